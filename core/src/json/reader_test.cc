#include "json/reader.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>

#include "json/messages.h"

namespace velkor::json {
namespace {

TEST(ReaderFaults, DescribeWhatAndWhere) {
  struct Case {
    const char* text;
    const char* message;
  };
  const Case cases[] = {
      {"", "EOF while parsing a value at line 1 column 0"},
      {"[1,]", "trailing comma at line 1 column 4"},
      {"[1 2]", "expected `,` or `]` at line 1 column 4"},
      {"{1:2}", "key must be a string at line 1 column 2"},
      {"[\n  tru]", "expected ident at line 2 column 6"},
      {"[\"\\ud800\"]", "unexpected end of hex escape at line 1 column 9"},
      {"[\"\\ud800\\u0041\"]", "lone leading surrogate in hex escape at line 1 column 14"},
      {"[\"a\x01\"]", "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 4"},
      {"[01]", "invalid number at line 1 column 3"},
      {"{} x", "trailing characters at line 1 column 4"},
      // Beyond the double range the fault stands after the literal, unless the
      // exponent itself passes 2147483647: then just after the digit that does.
      // (Number kinds and values as read are pinned by the canonical text tests.)
      {"[1e400]", "number out of range at line 1 column 6"},
      {"[1e21474836480000]", "number out of range at line 1 column 13"},
      {"[0.5e+00099999999999]", "number out of range at line 1 column 19"},
  };
  for (const Case& c : cases) {
    auto v = parse_document(c.text);
    ASSERT_FALSE(v) << c.text;
    EXPECT_EQ(v.error().text(), c.message) << c.text;
  }
}

TEST(ReaderDepth, LimitsRequestsAndNeverExhaustsTheStack) {
  auto nested = [](int levels) { return std::string(levels, '[') + std::string(levels, ']'); };
  EXPECT_TRUE(parse_document(nested(127)));
  auto too_deep = parse_document(nested(128));
  ASSERT_FALSE(too_deep);
  EXPECT_EQ(too_deep.error().text(), "recursion limit exceeded at line 1 column 128");

  // Without the limit, a million levels are read and freed iteratively.
  EXPECT_TRUE(parse_document(nested(1'000'000), Reader::Depth::kUnlimited));
  EXPECT_FALSE(parse_document(std::string(1'000'000, '['), Reader::Depth::kUnlimited));
  // Skipping a deep value is iterative too (the envelope's skipping is tested with dispatch).
  const std::string deep_objects = [] {
    std::string s;
    for (int i = 0; i < 500'000; ++i) s += "{\"a\":";
    return s + "1" + std::string(500'000, '}');
  }();
  Reader deep(deep_objects, Reader::Depth::kUnlimited);  // a view: the text must outlive it
  EXPECT_TRUE(deep.skip_value());
  EXPECT_TRUE(parse_document(deep_objects, Reader::Depth::kUnlimited));
}

// Enough members for repeats to be merged at the close; keys longer than 8
// bytes with the same first 8, so repeats are found by the whole key.
TEST(ReaderObjects, RepeatedKeyKeepsLaterValueAtFirstPosition) {
  std::string text = "{\"a\":1,\"b\":2";
  for (int i = 0; i < 3000; ++i) text += ",\"key with " + std::to_string(i % 40) + "\":" + std::to_string(i);
  auto v = parse_document(text + ",\"a\":3}");
  ASSERT_TRUE(v);
  const auto& members = v->as_object().members();
  ASSERT_EQ(members.size(), 42u);
  EXPECT_EQ((std::tuple{members[0].key, members[0].value.as_unsigned(), members[2].key, members[41].key}),
            (std::tuple{"a", 3u, "key with 0", "key with 39"}));
  EXPECT_EQ(members[2].value.as_unsigned(), 2960u);
}

TEST(ReaderStrings, UnescapeToUtf8) {
  auto v = parse_document(R"(["\u00e4\ud83d\ude00\/\b\f\n\r\t\"\\ä"])");
  ASSERT_TRUE(v);
  EXPECT_EQ(v->as_array()[0].as_string(), "\xc3\xa4\xf0\x9f\x98\x80/\b\f\n\r\t\"\\\xc3\xa4");
  EXPECT_FALSE(parse_document("[\"\xed\xa0\x80\"]"));  // an encoded surrogate
}

// Strings up to 14 bytes are held in the value itself, longer ones on the
// heap: both keep their bytes, a NUL among them, when values are moved.
TEST(ReaderStrings, KeepTheirBytesInPlaceAndOnTheHeap) {
  std::vector<std::string> expected;
  std::string text = "[";
  for (const std::size_t size : {0, 1, 13, 14, 15, 40}) {
    expected.push_back(size == 0 ? "" : '\0' + std::string(size - 1, 'x'));
    text += (size == 0 ? "\"" : ",\"\\u0000") + std::string(size == 0 ? 0 : size - 1, 'x') + "\"";
  }
  auto v = parse_document(text + "]");
  ASSERT_TRUE(v);
  Value moved = std::move(*v);
  std::vector<Value> items;
  for (Value& item : moved.as_array()) items.push_back(std::move(item));
  for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(items[i].as_string(), expected[i]) << i;
}

}  // namespace
}  // namespace velkor::json
