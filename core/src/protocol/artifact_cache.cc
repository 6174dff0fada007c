#include "protocol/artifact_cache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <expected>
#include <vector>

#include "digest/sha256.h"
#include "protocol/response.h"
#include "request/bytes_request.h"
#include "support/os_error.h"

namespace velkor {
namespace {

// Reads the whole file into one buffer sized from its metadata. Failure: the
// description users read after "reading {path}: ".
std::expected<std::vector<std::uint8_t>, std::string> read_whole_file(const std::string& path) {
  if (path.find('\0') != std::string::npos) return std::unexpected(std::string(kNulInPathText));
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::unexpected(os_error_text(errno));
  std::vector<std::uint8_t> bytes;
  struct stat info {};
  if (::fstat(fd, &info) == 0 && info.st_size > 0) bytes.reserve(static_cast<std::size_t>(info.st_size));
  std::size_t used = 0;
  for (;;) {
    if (bytes.size() - used < 8192) bytes.resize(std::max<std::size_t>(used + 8192, bytes.capacity()));
    const ssize_t n = ::read(fd, bytes.data() + used, bytes.size() - used);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      ::close(fd);
      return std::unexpected(os_error_text(err));
    }
    if (n == 0) break;
    used += static_cast<std::size_t>(n);
  }
  ::close(fd);
  bytes.resize(used);
  return bytes;
}

}  // namespace

std::string load_artifact_command(CompilerState& state, std::string_view text) {
  auto path = request::read_bytes_request(text);
  if (!path) return error_document("bad artifact_bytes request: " + path.error().text());
  auto bytes = read_whole_file(*path);
  if (!bytes) return error_document("reading " + *path + ": " + bytes.error());

  const std::uint64_t handle = state.next_handle;
  const std::size_t len = bytes->size();
  const std::string digest = digest::sha256_hex(
      std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
  std::string answer;
  ObjectWriter(answer).unsigned_integer("handle", handle).unsigned_integer("len", len).string("sha256", digest).close();
  // Everything that can fail is done; only now does the state change.
  state.artifact_cache.insert_or_assign(handle, std::move(*bytes));
  state.next_handle = handle + 1;
  return answer;
}

std::string reset_command(CompilerState& state) {
  state.last_artifact.reset();
  state.artifact_cache.clear();
  state.next_handle = 0;
  return R"({"ok":true})";
}

}  // namespace velkor
