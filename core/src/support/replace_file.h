// Replacing a file's content as one step, as the project writer does for every
// generated file.
#ifndef VELKOR_SUPPORT_REPLACE_FILE_H_
#define VELKOR_SUPPORT_REPLACE_FILE_H_

#include <expected>
#include <string>
#include <string_view>

namespace velkor {

// Puts a regular file holding exactly `content` at `path` (0666 before
// umask). The bytes go to a new file beside it, named "." + the file name +
// ".tmp-{pid}-{n}" and created exclusively without following links, which is
// then renamed over `path`. So whatever was at `path` is replaced, never
// opened or written through: a symbolic link (dangling or not) is replaced by
// the file, the file it named is untouched; a FIFO is replaced without
// blocking; a hard-linked file keeps its old content under its other names.
// A directory at `path` is an error (rename's EISDIR or ENOTEMPTY).
//
// On failure (including a delayed write error reported by close) the new file
// is removed and `path` is left as it was. The error is the description users
// read after "writing {path}: ": the system's error text, kNulInPathText, or
// "failed to write whole buffer" when a write accepts no bytes.
std::expected<void, std::string> replace_file(const std::string& path, std::string_view content);

}  // namespace velkor

#endif  // VELKOR_SUPPORT_REPLACE_FILE_H_
