// Reading a whole file into one buffer, as the artifact loader and the CSV
// embedding both do.
#ifndef VELKOR_SUPPORT_WHOLE_FILE_H_
#define VELKOR_SUPPORT_WHOLE_FILE_H_

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <expected>
#include <string>

#include "support/os_error.h"

namespace velkor {

inline constexpr const char* kNotRegularFileText = "not a regular file";

// Reads the file at `path` (relative paths against the working directory) into
// a buffer sized from its metadata, reading on to the real end. Failures are
// the description users read after "reading {path}: ": the system's error
// text, kNulInPathText for a path holding a NUL byte, or kNotRegularFileText. `Buffer` is any
// contiguous byte container with resize() (std::string, std::vector<uint8_t>).
template <typename Buffer>
std::expected<Buffer, std::string> read_whole_file(const std::string& path) {
  if (path.find('\0') != std::string::npos) return std::unexpected(std::string(kNulInPathText));
  // Opened without blocking: a FIFO without a writer would otherwise hold the
  // caller forever. Only regular files are read (a directory fails on read,
  // as usual); pipes, sockets and devices such as /dev/zero, whose end may never
  // come, are refused.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::unexpected(os_error_text(errno));
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    const int err = errno;
    ::close(fd);
    return std::unexpected(os_error_text(err));
  }
  if (!S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)) {
    ::close(fd);
    return std::unexpected(std::string(kNotRegularFileText));
  }
  const std::size_t expected_size = info.st_size > 0 ? static_cast<std::size_t>(info.st_size) : 0;
  Buffer bytes;
  // One byte beyond the expected size, so that reaching the end needs no regrowth.
  bytes.resize(expected_size + 1);
  std::size_t used = 0;
  for (;;) {
    if (used == bytes.size()) bytes.resize(std::max<std::size_t>(2 * bytes.size(), 65536));
    const ssize_t n = ::read(fd, reinterpret_cast<char*>(bytes.data()) + used, bytes.size() - used);
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

}  // namespace velkor

#endif  // VELKOR_SUPPORT_WHOLE_FILE_H_
