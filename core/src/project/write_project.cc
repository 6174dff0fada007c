#include "project/write_project.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <vector>

#include "project/path_join.h"
#include "support/os_error.h"
#include "support/replace_file.h"

namespace velkor::project {
namespace {

// The cause of a failed step: an errno, or a fixed description for faults the
// system detects before asking the OS.
struct Fault {
  int errnum = 0;
  std::string_view text;

  std::string describe() const { return text.empty() ? os_error_text(errnum) : std::string(text); }
};

// Directories at or above the project directory are looked up through links:
// the out dir or the crate folder may be a link the user made, as build tools
// allow. Below it, a link is not a directory: `src` or `.cargo` leading
// elsewhere would have generated files written, or removed, outside the
// project.
bool is_directory(const std::string& path, bool follow_links) {
  struct stat st;
  const int found = follow_links ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st);
  return found == 0 && S_ISDIR(st.st_mode);
}

// Creates `dir` and its missing ancestors. A mkdir that fails because the
// directory is already there (or appeared meanwhile) counts as success; any
// other failure, or something other than a directory in the way (below the
// project directory: also a link), is reported with the errno of the step
// that failed. `project_dir_size` is the length of the project directory's
// path, of which `dir` is an extension.
std::expected<void, Fault> create_dir_all(const std::string& dir, std::size_t project_dir_size) {
  if (dir.empty()) return {};
  const bool follow_links = dir.size() <= project_dir_size;
  if (::mkdir(dir.c_str(), 0777) == 0) return {};
  int err = errno;
  if (err != ENOENT) {
    if (is_directory(dir, follow_links)) return {};
    return std::unexpected(Fault{err, {}});
  }
  std::string_view parent = parent_path(dir);
  if (parent.empty() || parent == dir) return std::unexpected(Fault{err, {}});
  if (auto made = create_dir_all(std::string(parent), project_dir_size); !made) return made;
  if (::mkdir(dir.c_str(), 0777) == 0 || is_directory(dir, follow_links)) return {};
  return std::unexpected(Fault{errno, {}});
}

CompileError step_error(std::string_view step, std::string_view path, const Fault& fault) {
  std::string message(step);
  message += ' ';
  message += path;
  message += ": ";
  message += fault.describe();
  return io_error(std::move(message));
}

// True when every directory between `dir` and `relative` is a real directory
// or cannot be examined (the unlink then reports why). A link or a file in
// between holds nothing this compiler generated there.
bool inside_real_directories(const std::string& dir, std::string_view relative) {
  for (std::size_t slash = relative.find('/'); slash != std::string_view::npos; slash = relative.find('/', slash + 1)) {
    struct stat st;
    if (::lstat(join_path(dir, relative.substr(0, slash)).c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) return false;
  }
  return true;
}

// Removes the generated paths that `files` lacks: what a compile for another
// target or data kind left behind would otherwise take part in the next build
// (a .cargo/config.toml switching the target, a src/lib.rs beside
// src/main.rs). unlink removes a link itself, never its target; a directory
// at such a place is an error, as it is for a path being written. Directories
// emptied this way and not needed by `files` are removed when empty; cargo's
// target/ and every other file are left alone.
std::expected<void, CompileError> remove_stale_files(const std::string& dir, const FileSet& files) {
  std::vector<std::string_view> emptied;
  for (std::string_view relative : generated_paths()) {
    if (files.contains(std::string(relative)) || !inside_real_directories(dir, relative)) continue;
    const std::string path = join_path(dir, relative);
    if (::unlink(path.c_str()) == 0) {
      emptied.push_back(parent_path(relative));
      continue;
    }
    if (errno == ENOENT || errno == ENOTDIR) continue;
    return std::unexpected(step_error("removing", path, Fault{errno, {}}));
  }
  for (std::string_view folder : emptied) {
    if (folder.empty()) continue;
    const std::string prefix = std::string(folder) + '/';
    bool needed = false;
    for (const auto& [relative, content] : files) needed = needed || relative.starts_with(prefix);
    // Fails, as it should, when anything else is in the folder.
    if (!needed) ::rmdir(join_path(dir, folder).c_str());
  }
  return {};
}

}  // namespace

std::string project_dir(const std::string& out_dir, const std::string& crate_name) {
  return join_path(out_dir, crate_name);
}

std::expected<void, CompileError> write_project(const std::string& out_dir, const std::string& crate_name,
                                                const FileSet& files) {
  const std::string dir = project_dir(out_dir, crate_name);
  const bool nul_in_dir = dir.find('\0') != std::string::npos;
  if (!nul_in_dir) {
    if (auto removed = remove_stale_files(dir, files); !removed) return removed;
  }
  for (const auto& [relative, content] : files) {
    const std::string path = join_path(dir, relative);
    const std::string parent(parent_path(path));
    // A NUL byte would silently cut the path short at the C library boundary.
    if (nul_in_dir || relative.find('\0') != std::string::npos) {
      Fault nul{0, kNulInPathText};
      if (parent.find('\0') != std::string::npos) return std::unexpected(step_error("creating", parent, nul));
      return std::unexpected(step_error("writing", path, nul));
    }
    if (auto made = create_dir_all(parent, dir.size()); !made) {
      return std::unexpected(step_error("creating", parent, made.error()));
    }
    if (auto written = replace_file(path, content); !written) {
      return std::unexpected(step_error("writing", path, Fault{0, written.error()}));
    }
  }
  return {};
}

}  // namespace velkor::project
