// Reading a whole file into one buffer, as the artifact loader and the CSV
// embedding both do.
#ifndef VELKOR_SUPPORT_WHOLE_FILE_H_
#define VELKOR_SUPPORT_WHOLE_FILE_H_

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <expected>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "support/os_error.h"

namespace velkor {

inline constexpr const char* kNotRegularFileText = "not a regular file";

// Opens `path` (relative paths against the working directory) for reading;
// returns the descriptor and the size its metadata gives, or the failure
// description users read after "reading {path}: ": the system's error text,
// kNulInPathText for a path holding a NUL byte, or kNotRegularFileText.
inline std::expected<std::pair<int, std::size_t>, std::string> open_file_to_read(const std::string& path) {
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
  return std::pair<int, std::size_t>(fd, info.st_size > 0 ? static_cast<std::size_t>(info.st_size) : 0);
}

// Reads the file at `path`, opened as open_file_to_read does, into a buffer
// sized from its metadata, reading on to the real end; fails as
// open_file_to_read does, or with the system's error text of a failed read.
// `Buffer` is any contiguous byte container with resize() (std::string,
// std::vector<uint8_t>).
template <typename Buffer>
std::expected<Buffer, std::string> read_whole_file(const std::string& path) {
  auto opened = open_file_to_read(path);
  if (!opened) return std::unexpected(std::move(opened.error()));
  const auto [fd, expected_size] = *opened;
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

// How far a piece was filled: the bytes read, and whether the file ended.
struct FilledPiece {
  std::size_t used;
  bool at_end;
};

// Reads from `fd` until `piece` is full or the file ends. On a failed read
// `fd` is closed and the system's error text returned.
inline std::expected<FilledPiece, std::string> fill_piece(int fd, std::string& piece) {
  std::size_t used = 0;
  while (used < piece.size()) {
    const ssize_t n = ::read(fd, piece.data() + used, piece.size() - used);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      ::close(fd);
      return std::unexpected(os_error_text(err));
    }
    if (n == 0) return FilledPiece{used, true};
    used += static_cast<std::size_t>(n);
  }
  return FilledPiece{used, false};
}

// Reads the file at `path` like read_whole_file, but hands it to `take` in
// pieces of `piece_size` bytes (the last one shorter), so that it is never
// held whole. Returns the number of bytes read, or the failure description.
inline std::expected<std::uint64_t, std::string> read_file_in_pieces(
    const std::string& path, std::size_t piece_size, const std::function<void(std::string_view)>& take) {
  auto opened = open_file_to_read(path);
  if (!opened) return std::unexpected(std::move(opened.error()));
  const int fd = opened->first;
  std::string piece(piece_size, '\0');
  std::uint64_t total = 0;
  for (bool at_end = false; !at_end;) {
    // Each piece is filled up before it is handed over.
    auto filled = fill_piece(fd, piece);
    if (!filled) return std::unexpected(std::move(filled.error()));
    at_end = filled->at_end;
    if (filled->used > 0) take(std::string_view(piece.data(), filled->used));
    total += filled->used;
  }
  ::close(fd);
  return total;
}

// The start of the file at `path`, opened as open_file_to_read does: at most
// `max_bytes`, and whether that is all of it.
struct FilePrefix {
  std::string text;
  bool whole;
};
inline std::expected<FilePrefix, std::string> read_file_prefix(const std::string& path, std::size_t max_bytes) {
  auto opened = open_file_to_read(path);
  if (!opened) return std::unexpected(std::move(opened.error()));
  const int fd = opened->first;
  std::string text(max_bytes, '\0');
  auto filled = fill_piece(fd, text);
  if (!filled) return std::unexpected(std::move(filled.error()));
  ::close(fd);
  text.resize(filled->used);
  return FilePrefix{std::move(text), filled->at_end};
}

// Reads what is at `path` when it is a regular file, opened without
// following a link at `path` and without blocking, as the project writer
// must look at a generated file's place: `accept` sees the file's metadata
// first, then `take` gets its bytes in pieces up to the real end (not the size
// the metadata gave, so a file that grew meanwhile is seen whole) for as long
// as it returns true. Returns the metadata of the file read, or none when
// nothing could be opened there, it is not a regular file, `accept` refused
// it, or a read failed.
inline std::optional<struct stat> read_regular_file_at(const std::string& path,
                                                       const std::function<bool(const struct stat&)>& accept,
                                                       const std::function<bool(std::string_view)>& take) {
  if (path.find('\0') != std::string::npos) return std::nullopt;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat info {};
  bool read_all = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && accept(info);
  char piece[65536];
  while (read_all) {
    const ssize_t n = ::read(fd, piece, sizeof piece);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) read_all = false;
    if (n <= 0 || !take(std::string_view(piece, static_cast<std::size_t>(n)))) break;
  }
  ::close(fd);
  return read_all ? std::optional<struct stat>(info) : std::nullopt;
}

}  // namespace velkor

#endif  // VELKOR_SUPPORT_WHOLE_FILE_H_
