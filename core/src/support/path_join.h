// Joining a relative path onto a directory, the way every project path is
// formed: out_dir + crate name, project dir + file, project dir + artifact.
#ifndef VELKOR_SUPPORT_PATH_JOIN_H_
#define VELKOR_SUPPORT_PATH_JOIN_H_

#include <string>
#include <string_view>

namespace velkor {

// `tail` below `base`: one "/" between them unless `base` already ends with
// one; an empty `base` gives `tail` (relative to the working directory) and an
// absolute `tail` replaces `base`.
std::string join_path(std::string_view base, std::string_view tail);

// The parent directory of `path` as written: the text before its last
// component, without trailing slashes ("/" for a top-level absolute path, ""
// when there is none).
std::string_view parent_path(std::string_view path);

}  // namespace velkor

#endif  // VELKOR_SUPPORT_PATH_JOIN_H_
