#include "support/path_join.h"

namespace velkor {

std::string join_path(std::string_view base, std::string_view tail) {
  if (base.empty() || tail.starts_with('/')) return std::string(tail);
  std::string path(base);
  if (!path.ends_with('/')) path += '/';
  path += tail;
  return path;
}

std::string_view parent_path(std::string_view path) {
  while (path.size() > 1 && path.ends_with('/')) path.remove_suffix(1);
  std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return {};
  std::string_view parent = path.substr(0, slash);
  while (parent.size() > 1 && parent.ends_with('/')) parent.remove_suffix(1);
  if (parent.empty()) return path.substr(0, 1);  // "/x": the root
  return parent;
}

}  // namespace velkor
