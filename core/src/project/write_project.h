// Putting a generated project on disk, and telling beforehand what that would
// change there.
#ifndef VELKOR_PROJECT_WRITE_PROJECT_H_
#define VELKOR_PROJECT_WRITE_PROJECT_H_

#include <expected>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "project/file_set.h"
#include "support/compile_error.h"

namespace velkor::project {

// The directory a project lives in: `out_dir` joined with the crate name.
std::string project_dir(const std::string& out_dir, const std::string& crate_name);

// Writes `files` below project_dir(out_dir, crate_name).
//
// First the temporary files that a compile killed while writing left beside
// the generated paths are removed (support/replace_file.h: only those no live
// compile holds locked).
//
// Then, in path order: the file's parent directory and its missing ancestors
// are created (0777 before umask; existing directories are fine), and the
// file is replaced as one step (support/replace_file.h): its bytes go to a
// temporary file beside it that is renamed into place, so a link, FIFO or
// hard link at the file's place is replaced, never written through, a failed
// write leaves the previous file (or none) rather than a truncated one, and a
// regular file there keeps its mode (one the caller may not write is an
// error, "Permission denied (os error 13)"). A file that already holds the
// new bytes is left untouched, modification time included
// (support/replace_file.h, update_file), so that cargo, which compares
// times, finds nothing to rebuild after a compile that changed nothing.
//
// Only once every file is written, the files an earlier compile generated for
// another target or data kind are removed, so that they cannot change the
// next build: those of removable_paths() (project/generated_texts.h) that
// `files` lacks and that hold, byte for byte, a text this compiler generates
// or generated there. Anything else at those places (a file the user wrote
// or edited, a link, a directory) is the user's and stays, as do the data
// files, cargo's target/ and every other file. .cargo/ is removed when that
// leaves it empty.
//
// Links to directories are followed for the out dir and the crate folder, as
// build tools do; below the project directory (src/, .cargo/) a link is not
// taken for a directory, so nothing is written or removed outside the project.
//
// The first failure stops the work (files written before it stay, nothing is
// removed before every file is written) and is an Io error:
// "creating {parent dir}: {cause}", "writing {file}: {cause}" (with the file's
// final path, never the temporary one) or "removing {file}: {cause}". A
// directory at a file's place is an error: "Is a directory (os error 21)".
std::expected<void, CompileError> write_project(const std::string& out_dir, const std::string& crate_name,
                                                const FileSet& files);

// What write_project would do to what lies in `dir` (a project directory) for
// a file set holding `paths` (relative, in path order), found without changing
// anything: `replaced`, the paths of the set with something at their place;
// `removed`, the generated files it would remove, in path order.
struct ProjectChanges {
  std::vector<std::string> replaced;
  std::vector<std::string> removed;
};
ProjectChanges planned_changes(const std::string& dir, std::span<const std::string_view> paths);

}  // namespace velkor::project

#endif  // VELKOR_PROJECT_WRITE_PROJECT_H_
