#include "support/replace_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "support/os_error.h"

namespace velkor {
namespace {

// Names the temporary file in the directory of `path`. The leading dot keeps
// it apart from every generated name; pid and counter keep concurrent writers
// apart, and an exclusive create that still meets an existing name retries.
std::string temporary_path(std::string_view path) {
  static std::atomic<unsigned long> counter{0};
  const std::size_t slash = path.rfind('/');
  const std::size_t name_at = slash == std::string_view::npos ? 0 : slash + 1;
  std::string temp(path.substr(0, name_at));
  temp += '.';
  temp += path.substr(name_at);
  temp += ".tmp-";
  temp += std::to_string(::getpid());
  temp += '-';
  temp += std::to_string(counter.fetch_add(1, std::memory_order_relaxed));
  return temp;
}

std::expected<void, std::string> write_all(int fd, std::string_view content) {
  while (!content.empty()) {
    const ssize_t n = ::write(fd, content.data(), content.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::unexpected(os_error_text(errno));
    if (n == 0) return std::unexpected(std::string("failed to write whole buffer"));
    content.remove_prefix(static_cast<std::size_t>(n));
  }
  return {};
}

constexpr int kCreateAttempts = 100;

}  // namespace

std::expected<void, std::string> replace_file(const std::string& path, std::string_view content) {
  if (path.find('\0') != std::string::npos) return std::unexpected(std::string(kNulInPathText));
  std::string temp;
  int fd = -1;
  for (int attempt = 0; fd < 0 && attempt < kCreateAttempts; ++attempt) {
    temp = temporary_path(path);
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST && errno != EINTR) return std::unexpected(os_error_text(errno));
  }
  if (fd < 0) return std::unexpected(os_error_text(EEXIST));

  auto written = write_all(fd, content);
  // close() is where a file system that defers writing (NFS, quotas) reports
  // the bytes it could not store: its failure is the write's failure.
  const bool closed = ::close(fd) == 0;
  const int close_errno = errno;
  if (written && !closed) written = std::unexpected(os_error_text(close_errno));
  if (written && ::rename(temp.c_str(), path.c_str()) != 0) written = std::unexpected(os_error_text(errno));
  if (!written) ::unlink(temp.c_str());
  return written;
}

}  // namespace velkor
