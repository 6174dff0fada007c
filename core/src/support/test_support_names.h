// Test-only: a readable GoogleTest parameter name for a table row: the row
// number (names must be unique) and the letters and digits of a text that
// tells the row apart, other bytes folded into '_'.
#ifndef VELKOR_SUPPORT_TEST_SUPPORT_NAMES_H_
#define VELKOR_SUPPORT_TEST_SUPPORT_NAMES_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace velkor {

inline std::string test_row_name(std::size_t index, std::string_view text) {
  std::string name = std::to_string(index) + "_";
  for (char c : text.substr(0, 48)) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
      name += c;
    } else if (name.back() != '_') {
      name += '_';
    }
  }
  if (name.back() == '_') name.pop_back();
  return name;
}

}  // namespace velkor

#endif  // VELKOR_SUPPORT_TEST_SUPPORT_NAMES_H_
