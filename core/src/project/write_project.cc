#include "project/write_project.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <string_view>
#include <vector>

#include "project/generated_texts.h"
#include "support/os_error.h"
#include "support/path_join.h"
#include "support/replace_file.h"
#include "support/whole_file.h"

namespace velkor::project {
namespace {

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
// project directory: also a link), is reported with the error text of the
// step that failed. `project_dir_size` is the length of the project directory's
// path, of which `dir` is an extension.
std::expected<void, std::string> create_dir_all(const std::string& dir, std::size_t project_dir_size) {
  if (dir.empty()) return {};
  const bool follow_links = dir.size() <= project_dir_size;
  if (::mkdir(dir.c_str(), 0777) == 0) return {};
  int err = errno;
  if (err != ENOENT) {
    if (is_directory(dir, follow_links)) return {};
    return std::unexpected(os_error_text(err));
  }
  std::string_view parent = parent_path(dir);
  if (parent.empty() || parent == dir) return std::unexpected(os_error_text(err));
  if (auto made = create_dir_all(std::string(parent), project_dir_size); !made) return made;
  if (::mkdir(dir.c_str(), 0777) == 0 || is_directory(dir, follow_links)) return {};
  return std::unexpected(os_error_text(errno));
}

CompileError step_error(std::string_view step, std::string_view path, std::string_view cause) {
  std::string message(step);
  message += ' ';
  message += path;
  message += ": ";
  message += cause;
  return io_error(std::move(message));
}

// True when every directory between `dir` and `relative` is a real directory
// or cannot be examined (the step at the path then reports why). A link or a
// file in between holds nothing this compiler generated there.
bool inside_real_directories(const std::string& dir, std::string_view relative) {
  for (std::size_t slash = relative.find('/'); slash != std::string_view::npos; slash = relative.find('/', slash + 1)) {
    struct stat st;
    if (::lstat(join_path(dir, relative.substr(0, slash)).c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) return false;
  }
  return true;
}

struct FileId {
  dev_t device;
  ino_t inode;
  bool names(const struct stat& st) const { return st.st_dev == device && st.st_ino == inode; }
};

// The identity of the file at `relative` below `dir` when it is a regular
// file (not a link) holding a text this compiler generates there; none for
// anything else, including a file that cannot be read.
std::optional<FileId> generated_file(const std::string& dir, std::string_view relative) {
  if (!inside_real_directories(dir, relative)) return std::nullopt;
  const std::size_t longest = longest_generated_text();
  std::string content;
  const auto read = read_regular_file_at(
      join_path(dir, relative), [&](const struct stat& st) { return static_cast<std::size_t>(st.st_size) <= longest; },
      [&](std::string_view piece) {
        content.append(piece);
        return content.size() <= longest;  // longer than any generated text: the user's
      });
  if (!read || !is_generated_text(relative, content)) return std::nullopt;
  return FileId{read->st_dev, read->st_ino};
}

bool in_set(std::span<const std::string_view> paths, std::string_view relative) {
  return std::ranges::find(paths, relative) != paths.end();
}

// Removes the generated files that a set holding `paths` lacks (see
// write_project). A file is removed only while its name still stands for the
// file that was read. Directories emptied this way and not needed by the set
// are removed when empty.
std::expected<void, CompileError> remove_stale_files(const std::string& dir, std::span<const std::string_view> paths) {
  for (std::string_view relative : removable_paths()) {
    if (in_set(paths, relative)) continue;
    const std::optional<FileId> generated = generated_file(dir, relative);
    if (!generated) continue;
    const std::string path = join_path(dir, relative);
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !generated->names(st)) continue;
    if (::unlink(path.c_str()) != 0) {
      if (errno == ENOENT) continue;
      return std::unexpected(step_error("removing", path, os_error_text(errno)));
    }
    const std::string_view folder = parent_path(relative);
    if (folder.empty()) continue;
    const std::string prefix = std::string(folder) + '/';
    const bool needed = std::ranges::any_of(paths, [&](std::string_view p) { return p.starts_with(prefix); });
    // Fails, as it should, when anything else is in the folder.
    if (!needed) ::rmdir(join_path(dir, folder).c_str());
  }
  return {};
}

// Removes what compiles killed while writing left beside the generated
// paths, one directory at a time. The project directory may be a link (see
// is_directory); its subdirectories are not looked into through one.
void remove_abandoned_temporaries_below(const std::string& dir) {
  std::vector<std::string_view> folders;
  for (std::string_view relative : generated_paths()) {
    if (!in_set(folders, parent_path(relative))) folders.push_back(parent_path(relative));
  }
  for (std::string_view folder : folders) {
    std::vector<std::string_view> names;
    for (std::string_view relative : generated_paths()) {
      if (parent_path(relative) != folder) continue;
      const std::string_view name = relative.substr(folder.empty() ? 0 : folder.size() + 1);
      if (!in_set(names, name)) names.push_back(name);
    }
    remove_abandoned_temporaries(join_path(dir, folder), folder.empty(), names);
  }
}

}  // namespace

std::string project_dir(const std::string& out_dir, const std::string& crate_name) {
  return join_path(out_dir, crate_name);
}

std::expected<void, CompileError> write_project(const std::string& out_dir, const std::string& crate_name,
                                                const FileSet& files) {
  const std::string dir = project_dir(out_dir, crate_name);
  const bool nul_in_dir = dir.find('\0') != std::string::npos;
  if (!nul_in_dir) remove_abandoned_temporaries_below(dir);
  std::vector<std::string_view> paths;
  for (const auto& [relative, content] : files) {
    const std::string path = join_path(dir, relative);
    const std::string parent(parent_path(path));
    // A NUL byte would silently cut the path short at the C library boundary.
    if (nul_in_dir || relative.find('\0') != std::string::npos) {
      if (parent.find('\0') != std::string::npos) {
        return std::unexpected(step_error("creating", parent, kNulInPathText));
      }
      return std::unexpected(step_error("writing", path, kNulInPathText));
    }
    if (auto made = create_dir_all(parent, dir.size()); !made) {
      return std::unexpected(step_error("creating", parent, made.error()));
    }
    if (auto written = update_file(path, content); !written) {
      return std::unexpected(step_error("writing", path, written.error()));
    }
    paths.push_back(relative);
  }
  return remove_stale_files(dir, paths);
}

ProjectChanges planned_changes(const std::string& dir, std::span<const std::string_view> paths) {
  ProjectChanges changes;
  if (dir.find('\0') != std::string::npos) return changes;
  for (std::string_view relative : paths) {
    struct stat st;
    if (::lstat(join_path(dir, relative).c_str(), &st) == 0) changes.replaced.emplace_back(relative);
  }
  for (std::string_view relative : removable_paths()) {
    if (!in_set(paths, relative) && generated_file(dir, relative)) changes.removed.emplace_back(relative);
  }
  return changes;
}

}  // namespace velkor::project
