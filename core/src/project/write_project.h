// Putting a generated project on disk.
#ifndef VELKOR_PROJECT_WRITE_PROJECT_H_
#define VELKOR_PROJECT_WRITE_PROJECT_H_

#include <expected>
#include <string>

#include "project/file_set.h"
#include "protocol/compile_error.h"

namespace velkor::project {

// The directory a project lives in: `out_dir` joined with the crate name.
std::string project_dir(const std::string& out_dir, const std::string& crate_name);

// Writes every file of `files` below project_dir(out_dir, crate_name), in path
// order: the file's parent directory and its missing ancestors are created
// (0777 before umask; existing directories are fine), then the file is created
// or truncated (0666 before umask) and written whole. Other files in the
// directory are left alone. The first failure stops the writing (files written
// before it stay) and is an Io error: "creating {parent dir}: {cause}" or
// "writing {file}: {cause}".
std::expected<void, CompileError> write_project(const std::string& out_dir, const std::string& crate_name,
                                                const FileSet& files);

}  // namespace velkor::project

#endif  // VELKOR_PROJECT_WRITE_PROJECT_H_
