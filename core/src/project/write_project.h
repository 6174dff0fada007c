// Putting a generated project on disk.
#ifndef VELKOR_PROJECT_WRITE_PROJECT_H_
#define VELKOR_PROJECT_WRITE_PROJECT_H_

#include <expected>
#include <string>

#include "base/compile_error.h"
#include "project/file_set.h"

namespace velkor::project {

// The directory a project lives in: `out_dir` joined with the crate name.
std::string project_dir(const std::string& out_dir, const std::string& crate_name);

// Writes `files` below project_dir(out_dir, crate_name).
//
// First the generated paths (file_set.h) that `files` lacks are removed, so
// that files an earlier compile wrote for another target or data kind cannot
// change the next build; a folder emptied this way (.cargo/) is removed if
// nothing else is in it. cargo's target/ and every other file are left alone.
//
// Then, in path order: the file's parent directory and its missing ancestors
// are created (0777 before umask; existing directories are fine), and the
// file is replaced as one step (support/replace_file.h; 0666 before umask):
// its bytes go to a temporary file beside it that is renamed into place, so a
// link, FIFO or hard link at the file's place is replaced, never written
// through, and a failed write leaves the previous file (or none) rather than a
// truncated one.
//
// Links to directories are followed for the out dir and the crate folder, as
// build tools do; below the project directory (src/, .cargo/) a link is not
// taken for a directory, so nothing is written or removed outside the project.
//
// The first failure stops the work (files written before it stay) and is an
// Io error: "removing {file}: {cause}" (before anything is written),
// "creating {parent dir}: {cause}" or "writing {file}: {cause}", with the
// file's final path, never the temporary one. A directory at a file's place is
// an error: "Is a directory (os error 21)".
std::expected<void, CompileError> write_project(const std::string& out_dir, const std::string& crate_name,
                                                const FileSet& files);

}  // namespace velkor::project

#endif  // VELKOR_PROJECT_WRITE_PROJECT_H_
