#include "support/replace_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <optional>
#include <vector>

#include "support/os_error.h"
#include "support/whole_file.h"

namespace velkor {
namespace {

constexpr std::string_view kTemporaryInfix = ".tmp-";

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
  temp += kTemporaryInfix;
  temp += std::to_string(::getpid());
  temp += '-';
  temp += std::to_string(counter.fetch_add(1, std::memory_order_relaxed));
  return temp;
}

bool same_file(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Takes the lock that tells remove_abandoned_temporaries the file is being
// written, and checks that `name` still names the file: a cleanup may have
// locked and removed it between its creation and this call. False when the
// file is lost to a cleanup. A file system without flock leaves the file
// unlocked, which is safe: a cleanup there cannot lock it either.
bool lock_as_named(int fd, const std::string& name) {
  int locked;
  do locked = ::flock(fd, LOCK_EX | LOCK_NB);
  while (locked != 0 && errno == EINTR);
  if (locked != 0 && errno == EWOULDBLOCK) return false;
  struct stat held, named;
  return ::fstat(fd, &held) == 0 && ::lstat(name.c_str(), &named) == 0 && same_file(held, named);
}

constexpr int kCreateAttempts = 100;

// Creates and locks the temporary file for `path`: its descriptor and name.
std::expected<std::pair<int, std::string>, std::string> create_temporary(const std::string& path) {
  for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
    std::string temp = temporary_path(path);
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST && errno != EINTR) return std::unexpected(os_error_text(errno));
    if (fd < 0) continue;
    if (lock_as_named(fd, temp)) return std::pair<int, std::string>(fd, std::move(temp));
    ::close(fd);
  }
  return std::unexpected(os_error_text(EEXIST));
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

// What a replacement of `path` keeps of the regular file there, which the
// caller must be allowed to write: its permission bits and its owner.
struct KeptAttributes {
  mode_t mode;
  uid_t owner;
  gid_t group;
};

// None when nothing, or something other than a regular file, is there.
std::expected<std::optional<KeptAttributes>, std::string> kept_attributes(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0 && errno != ENOENT) {
    return std::unexpected(os_error_text(errno));
  }
  return KeptAttributes{st.st_mode & 07777, st.st_uid, st.st_gid};
}

// Gives the new file the old one's owner and mode. The owner first: a change
// of owner may clear set-id bits. A process that may not give a file away
// (any but a privileged one) keeps the file as its own, as writing a new file
// would; only the mode is required. So a compile run once under sudo does not
// leave the user's project files owned by root and closed to the user.
std::expected<void, std::string> keep_attributes(int fd, const KeptAttributes& kept) {
  if (kept.owner != ::geteuid() || kept.group != ::getegid()) (void)::fchown(fd, kept.owner, kept.group);
  if (::fchmod(fd, kept.mode) != 0) return std::unexpected(os_error_text(errno));
  return {};
}

// "." + one of `names` + ".tmp-{digits}-{digits}".
bool is_temporary_name(std::string_view entry, std::span<const std::string_view> names) {
  if (!entry.starts_with('.')) return false;
  entry.remove_prefix(1);
  const std::size_t infix = entry.rfind(kTemporaryInfix);
  if (infix == std::string_view::npos) return false;
  if (std::ranges::find(names, entry.substr(0, infix)) == names.end()) return false;
  const std::string_view numbers = entry.substr(infix + kTemporaryInfix.size());
  const std::size_t dash = numbers.find('-');
  auto digits = [](std::string_view s) {
    return !s.empty() && std::ranges::all_of(s, [](char c) { return c >= '0' && c <= '9'; });
  };
  return dash != std::string_view::npos && digits(numbers.substr(0, dash)) && digits(numbers.substr(dash + 1));
}

// Removes the regular file `name` in `dir_fd` when no one holds its lock.
void remove_if_abandoned(int dir_fd, const char* name) {
  struct stat before;
  if (::fstatat(dir_fd, name, &before, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(before.st_mode)) return;
  // Any access mode can take the lock; a writer killed after giving the file
  // its kept mode may have left it unreadable.
  int fd = ::openat(dir_fd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0 && errno == EACCES) fd = ::openat(dir_fd, name, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return;
  struct stat held, named;
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &held) == 0 &&
      ::fstatat(dir_fd, name, &named, AT_SYMLINK_NOFOLLOW) == 0 && same_file(held, named)) {
    ::unlinkat(dir_fd, name, 0);
  }
  ::close(fd);
}

// True when `path` names a regular file with one link that the caller may
// write and whose bytes are exactly `content`. Read without following a link
// or blocking; the size is compared first, so a file of another length is
// not read.
bool holds_exactly(const std::string& path, std::string_view content) {
  std::size_t compared = 0;
  bool same = true;
  const auto read = read_regular_file_at(
      path,
      [&](const struct stat& st) {
        return st.st_nlink == 1 && static_cast<std::size_t>(st.st_size) == content.size() &&
               ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
      },
      [&](std::string_view piece) {
        same = piece.size() <= content.size() - compared && content.substr(compared, piece.size()) == piece;
        compared += piece.size();
        return same;
      });
  return read && same && compared == content.size();
}

}  // namespace

std::expected<FileUpdate, std::string> update_file(const std::string& path, std::string_view content) {
  if (holds_exactly(path, content)) return FileUpdate::kUnchanged;
  if (auto replaced = replace_file(path, content); !replaced) return std::unexpected(std::move(replaced.error()));
  return FileUpdate::kReplaced;
}

std::expected<void, std::string> replace_file(const std::string& path, std::string_view content) {
  if (path.find('\0') != std::string::npos) return std::unexpected(std::string(kNulInPathText));
  auto kept = kept_attributes(path);
  if (!kept) return std::unexpected(std::move(kept.error()));
  auto created = create_temporary(path);
  if (!created) return std::unexpected(std::move(created.error()));
  const auto& [fd, temp] = *created;

  auto written = write_all(fd, content);
  if (written && *kept) written = keep_attributes(fd, **kept);
  // The lock must last until the rename, so a second descriptor holds it
  // while the first is closed: close() is where a file system that defers
  // writing (NFS, quotas) reports the bytes it could not store, and its
  // failure is the write's failure.
  const int lock_holder = written ? ::dup(fd) : -1;
  if (written && lock_holder < 0) written = std::unexpected(os_error_text(errno));
  const bool closed = ::close(fd) == 0;
  const int close_errno = errno;
  if (written && !closed) written = std::unexpected(os_error_text(close_errno));
  if (written && ::rename(temp.c_str(), path.c_str()) != 0) written = std::unexpected(os_error_text(errno));
  if (!written) ::unlink(temp.c_str());
  if (lock_holder >= 0) ::close(lock_holder);
  return written;
}

void remove_abandoned_temporaries(const std::string& dir, bool follow_link, std::span<const std::string_view> names) {
  if (dir.find('\0') != std::string::npos) return;
  const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (follow_link ? 0 : O_NOFOLLOW);
  const int dir_fd = ::open(dir.empty() ? "." : dir.c_str(), flags);
  if (dir_fd < 0) return;
  DIR* listing = ::fdopendir(dir_fd);
  if (listing == nullptr) {
    ::close(dir_fd);
    return;
  }
  // Names first, removals after: removing entries while reading the directory
  // may skip others.
  std::vector<std::string> found;
  while (const dirent* entry = ::readdir(listing)) {
    if (is_temporary_name(entry->d_name, names)) found.emplace_back(entry->d_name);
  }
  for (const std::string& name : found) remove_if_abandoned(dir_fd, name.c_str());
  ::closedir(listing);
}

}  // namespace velkor
