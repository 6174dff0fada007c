// The one string escaping of every JSON text the system writes (responses,
// canonical texts, digest inputs): `"` and `\` escaped, control bytes as the
// short escapes \b \t \n \f \r or \u00xx (lowercase hex), every other byte,
// `/` and all of UTF-8 included, copied unchanged.
#ifndef VELKOR_JSON_STRING_ESCAPE_H_
#define VELKOR_JSON_STRING_ESCAPE_H_

#include <string>
#include <string_view>

namespace velkor::json {

// Appends `text` as a JSON string literal, quotes included.
void append_json_string(std::string& out, std::string_view text);

// Appends `text` between quotes as it is, then `after` (a separator such as
// ":"), for a text known to hold nothing to escape (a digest text, a name or
// path fixed in the code): the literal append_json_string would write, without
// the scan.
void append_quoted(std::string& out, std::string_view text, std::string_view after = {});

// Appends `key` as a JSON string literal and the `:` after it: an object
// member's key, written in one size change when it needs no escape.
void append_json_key(std::string& out, std::string_view key);

}  // namespace velkor::json

#endif  // VELKOR_JSON_STRING_ESCAPE_H_
