#include "json/string_escape.h"

#include <array>
#include <cstdint>

namespace velkor::json {
namespace {

// 0: copy; otherwise the escape's second character ('u' for \u00xx).
constexpr std::array<char, 256> kEscape = [] {
  std::array<char, 256> table{};
  for (int c = 0; c < 0x20; ++c) table[c] = 'u';
  table['\b'] = 'b';
  table['\t'] = 't';
  table['\n'] = 'n';
  table['\f'] = 'f';
  table['\r'] = 'r';
  table['"'] = '"';
  table['\\'] = '\\';
  return table;
}();

}  // namespace

void append_json_string(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out.push_back('"');
  std::size_t run_start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char escape = kEscape[static_cast<std::uint8_t>(text[i])];
    if (escape == 0) continue;
    out.append(text.data() + run_start, i - run_start);
    run_start = i + 1;
    out.push_back('\\');
    out.push_back(escape);
    if (escape == 'u') {
      const auto c = static_cast<std::uint8_t>(text[i]);
      out.append("00");
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0xf]);
    }
  }
  out.append(text.data() + run_start, text.size() - run_start);
  out.push_back('"');
}

}  // namespace velkor::json
