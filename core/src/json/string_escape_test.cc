#include "json/string_escape.h"

#include <gtest/gtest.h>

#include <string>

#include "support/test_support_names.h"

namespace velkor::json {
namespace {

struct EscapeCase {
  std::string text;
  std::string literal;
};

std::string json_literal(std::string_view text) {
  std::string out = "prefix";
  append_json_string(out, text);
  return out.substr(6);
}

class JsonStringTest : public testing::TestWithParam<EscapeCase> {};

// Each row is checked as it stands and inside a text long enough to take the
// path for long texts, so both ways of writing agree byte for byte.
TEST_P(JsonStringTest, EscapesExactlyTheRequiredBytes) {
  const EscapeCase& c = GetParam();
  EXPECT_EQ(json_literal(c.text), "\"" + c.literal + "\"");
  const std::string padding(300, 'p');
  EXPECT_EQ(json_literal(padding + c.text + padding + c.text), "\"" + padding + c.literal + padding + c.literal + "\"");
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, JsonStringTest,
    testing::Values(EscapeCase{"", ""}, EscapeCase{"plain", "plain"}, EscapeCase{"\"", "\\\""},
                    EscapeCase{"\\", "\\\\"}, EscapeCase{"\b\t\n\f\r", "\\b\\t\\n\\f\\r"},
                    EscapeCase{std::string("\0", 1), "\\u0000"}, EscapeCase{"\x1f\x0b", "\\u001f\\u000b"},
                    // not escaped: solidus, DEL, UTF-8 sequences (even malformed ones)
                    EscapeCase{"/\x7f", "/\x7f"}, EscapeCase{"\xc3\xa4\xf0\x9f\x98\x80\xff", "\xc3\xa4\xf0\x9f\x98\x80\xff"},
                    EscapeCase{"a\"b\\c\nd", "a\\\"b\\\\c\\nd"}),
    [](const auto& info) { return test_row_name(info.index, info.param.literal); });

}  // namespace
}  // namespace velkor::json
