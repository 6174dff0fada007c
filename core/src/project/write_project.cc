#include "project/write_project.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "project/path_join.h"
#include "support/os_error.h"

namespace velkor::project {
namespace {

// The cause of a failed step: an errno, or a fixed description for faults the
// system detects before asking the OS.
struct Fault {
  int errnum = 0;
  std::string_view text;

  std::string describe() const { return text.empty() ? os_error_text(errnum) : std::string(text); }
};

bool is_directory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Creates `dir` and its missing ancestors. A mkdir that fails because the
// directory is already there (or appeared meanwhile) counts as success; any
// other failure is reported with the errno of the step that failed.
std::expected<void, Fault> create_dir_all(const std::string& dir) {
  if (dir.empty()) return {};
  if (::mkdir(dir.c_str(), 0777) == 0) return {};
  int err = errno;
  if (err != ENOENT) {
    if (is_directory(dir)) return {};
    return std::unexpected(Fault{err, {}});
  }
  std::string_view parent = parent_path(dir);
  if (parent.empty() || parent == dir) return std::unexpected(Fault{err, {}});
  if (auto made = create_dir_all(std::string(parent)); !made) return made;
  if (::mkdir(dir.c_str(), 0777) == 0 || is_directory(dir)) return {};
  return std::unexpected(Fault{errno, {}});
}

std::expected<void, Fault> write_file(const std::string& path, std::string_view content) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return std::unexpected(Fault{errno, {}});
  while (!content.empty()) {
    ssize_t n = ::write(fd, content.data(), content.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      Fault fault = n < 0 ? Fault{errno, {}} : Fault{0, "failed to write whole buffer"};
      ::close(fd);
      return std::unexpected(fault);
    }
    content.remove_prefix(static_cast<std::size_t>(n));
  }
  // Data is in the page cache once write returns; a close failure on Linux
  // cannot be retried meaningfully and does not undo the write.
  ::close(fd);
  return {};
}

CompileError step_error(std::string_view step, std::string_view path, const Fault& fault) {
  std::string message(step);
  message += ' ';
  message += path;
  message += ": ";
  message += fault.describe();
  return io_error(std::move(message));
}

}  // namespace

std::string project_dir(const std::string& out_dir, const std::string& crate_name) {
  return join_path(out_dir, crate_name);
}

std::expected<void, CompileError> write_project(const std::string& out_dir, const std::string& crate_name,
                                                const FileSet& files) {
  const std::string dir = project_dir(out_dir, crate_name);
  const bool nul_in_dir = dir.find('\0') != std::string::npos;
  for (const auto& [relative, content] : files) {
    const std::string path = join_path(dir, relative);
    const std::string parent(parent_path(path));
    // A NUL byte would silently cut the path short at the C library boundary.
    if (nul_in_dir || relative.find('\0') != std::string::npos) {
      Fault nul{0, kNulInPathText};
      if (parent.find('\0') != std::string::npos) return std::unexpected(step_error("creating", parent, nul));
      return std::unexpected(step_error("writing", path, nul));
    }
    if (auto made = create_dir_all(parent); !made) return std::unexpected(step_error("creating", parent, made.error()));
    if (auto written = write_file(path, content); !written) {
      return std::unexpected(step_error("writing", path, written.error()));
    }
  }
  return {};
}

}  // namespace velkor::project
