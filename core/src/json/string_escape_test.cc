#include "json/string_escape.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace velkor::json {
namespace {

std::string json_literal(std::string_view text) {
  std::string out = "prefix";
  append_json_string(out, text);
  return out.substr(6);
}

// Each row is checked as it stands and inside a text long enough to take the
// path for long texts, so both ways of writing agree byte for byte; and as
// an object key, whose one-step path must agree with them too.
TEST(JsonString, EscapesExactlyTheRequiredBytes) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""}, {"plain", "plain"}, {"\"", "\\\""}, {"\\", "\\\\"}, {"\b\t\n\f\r", "\\b\\t\\n\\f\\r"},
      {std::string("\0", 1), "\\u0000"}, {"\x1f\x0b", "\\u001f\\u000b"},
      // not escaped: solidus, DEL, UTF-8 sequences (even malformed ones)
      {"/\x7f", "/\x7f"}, {"\xc3\xa4\xf0\x9f\x98\x80\xff", "\xc3\xa4\xf0\x9f\x98\x80\xff"},
      {"a\"b\\c\nd", "a\\\"b\\\\c\\nd"},
  };
  const std::string padding(300, 'p');
  for (const auto& [text, literal] : cases) {
    EXPECT_EQ(json_literal(text), "\"" + literal + "\"");
    EXPECT_EQ(json_literal(padding + text + padding + text), "\"" + padding + literal + padding + literal + "\"");
    std::string key = "prefix";
    append_json_key(key, text);
    EXPECT_EQ(key, "prefix\"" + literal + "\":");
  }
}

}  // namespace
}  // namespace velkor::json
