// The one string escaping of every JSON text the system writes (responses,
// canonical texts, digest inputs): `"` and `\` escaped, control bytes as the
// short escapes \b \t \n \f \r or \u00xx (lowercase hex), every other byte,
// `/` and all of UTF-8 included, copied unchanged.
#ifndef VELKOR_JSON_STRING_ESCAPE_H_
#define VELKOR_JSON_STRING_ESCAPE_H_

#include <cstring>
#include <string>
#include <string_view>

namespace velkor::json {

// Appends `text` as a JSON string literal, quotes included.
void append_json_string(std::string& out, std::string_view text);

// Appends `text` between quotes as it is, then `after` (a separator such as
// ":"), for a text known to hold nothing to escape (a digest text, a name or
// path fixed in the code): the literal append_json_string would write, without
// the scan.
// Defined here so that a literal `after` is copied inline, not by a call.
inline void append_quoted(std::string& out, std::string_view text, std::string_view after = {}) {
  // One size change for the quotes, the text and what follows, not several
  // appends. The size is our own: when the text grows, this standard library
  // passes the new capacity as the second argument, not the size asked for.
  const std::size_t old_size = out.size();
  const std::size_t new_size = old_size + text.size() + 2 + after.size();
  out.resize_and_overwrite(new_size, [&](char* buf, std::size_t) {
    char* p = buf + old_size;
    *p++ = '"';
    // An empty view may hold a null pointer, which memcpy must not be given.
    if (!text.empty()) std::memcpy(p, text.data(), text.size());
    p += text.size();
    *p++ = '"';
    if (!after.empty()) std::memcpy(p, after.data(), after.size());
    return new_size;
  });
}

// Appends `key` as a JSON string literal and the `:` after it: an object
// member's key, written in one size change when it needs no escape.
void append_json_key(std::string& out, std::string_view key);

}  // namespace velkor::json

#endif  // VELKOR_JSON_STRING_ESCAPE_H_
