#include "json/string_escape.h"

#include <array>
#include <cstdint>
#include <cstring>

#include "json/string_scan.h"

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

constexpr char kHex[] = "0123456789abcdef";

// Texts up to this length are written byte by byte into room reserved for
// their longest escaped form (6 bytes a byte), which avoids one library call
// per piece for the many short keys and values; longer texts are appended in
// runs so that their reserve stays proportionate.
constexpr std::size_t kShortText = 256;

char* write_escape(char* p, std::uint8_t c, char escape) {
  *p++ = '\\';
  *p++ = escape;
  if (escape == 'u') {
    *p++ = '0';
    *p++ = '0';
    *p++ = kHex[c >> 4];
    *p++ = kHex[c & 0xf];
  }
  return p;
}

}  // namespace

void append_json_string(std::string& out, std::string_view text) {
  // Most texts (keys, names, digests) need no escape: they are copied whole
  // once a scan has found nothing to escape.
  const char* const end = text.data() + text.size();
  const char* const first_escape = find_escape(text.data(), end);
  if (first_escape == end) {
    append_quoted(out, text);
    return;
  }
  if (text.size() <= kShortText) {
    const std::size_t old_size = out.size();
    out.resize_and_overwrite(old_size + 6 * text.size() + 2, [&](char* buf, std::size_t) {
      char* p = buf + old_size;
      *p++ = '"';
      for (const char ch : text) {
        const auto c = static_cast<std::uint8_t>(ch);
        const char escape = kEscape[c];
        if (escape == 0) {
          *p++ = ch;
        } else {
          p = write_escape(p, c, escape);
        }
      }
      *p++ = '"';
      return static_cast<std::size_t>(p - buf);
    });
    return;
  }
  out.push_back('"');
  const char* run = text.data();
  for (const char* stop = first_escape; stop != end; stop = find_escape(run, end)) {
    out.append(run, stop);
    const auto c = static_cast<std::uint8_t>(*stop);
    char buf[6];
    out.append(buf, write_escape(buf, c, kEscape[c]));
    run = stop + 1;
  }
  out.append(run, end);
  out.push_back('"');
}

void append_json_key(std::string& out, std::string_view key) {
  const char* const end = key.data() + key.size();
  if (find_escape(key.data(), end) == end) {
    append_quoted(out, key, ":");
    return;
  }
  append_json_string(out, key);
  out.push_back(':');
}

}  // namespace velkor::json
