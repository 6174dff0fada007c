// Replacing a file's content as one step, as the project writer does for every
// generated file, and removing what a replacement that never finished left.
#ifndef VELKOR_SUPPORT_REPLACE_FILE_H_
#define VELKOR_SUPPORT_REPLACE_FILE_H_

#include <expected>
#include <span>
#include <string>
#include <string_view>

namespace velkor {

// Puts a regular file holding exactly `content` at `path`. The bytes go to a
// new file beside it, named "." + the file name + ".tmp-{pid}-{n}" and created
// exclusively without following links, which is then renamed over `path`. So
// whatever was at `path` is replaced, never opened or written through: a
// symbolic link (dangling or not) is replaced by the file, the file it named
// is untouched; a FIFO is replaced without blocking; a hard-linked file keeps
// its old content under its other names. A directory at `path` is an error
// (rename's EISDIR or ENOTEMPTY).
//
// A regular file at `path` keeps its permission bits (and its owner, where
// the process may give a file away), and one the caller may not write (access(2) with the effective ids) is not replaced: the error is
// "Permission denied (os error 13)", as a write into it would report. A new
// file, or one replacing anything else, gets 0666 before umask.
//
// The temporary file is locked (flock, exclusive) from its creation until it
// is renamed or removed, so remove_abandoned_temporaries can tell it from one
// whose writer died.
//
// On failure (including a delayed write error reported by close) the new file
// is removed and `path` is left as it was. The error is the description users
// read after "writing {path}: ": the system's error text, kNulInPathText, or
// "failed to write whole buffer" when a write accepts no bytes.
std::expected<void, std::string> replace_file(const std::string& path, std::string_view content);

// What update_file did.
enum class FileUpdate { kReplaced, kUnchanged };

// replace_file, except that a file replace_file would replace and that holds
// exactly `content` already is left as it is, modification time included, so
// that a build tool that compares times sees nothing to do: a regular file
// (not a symbolic link, nor one with other hard links, whose other names a
// replacement would part from it) the caller may write. Anything else at
// `path`, or a file that cannot be read, is handed to replace_file with its
// outcome and errors.
std::expected<FileUpdate, std::string> update_file(const std::string& path, std::string_view content);

// Removes from the directory `dir` the temporary files of replace_file for
// the file names `names` ("." + name + ".tmp-{digits}-{digits}", nothing else)
// that are regular files no live replacement holds locked: what a process
// killed while writing left behind. `dir` itself is looked up through a link
// only when `follow_link`. Best effort: a directory or file that cannot be
// opened, read or removed is left as it is, silently.
void remove_abandoned_temporaries(const std::string& dir, bool follow_link, std::span<const std::string_view> names);

}  // namespace velkor

#endif  // VELKOR_SUPPORT_REPLACE_FILE_H_
