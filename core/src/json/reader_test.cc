#include "json/reader.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>

#include "json/messages.h"
#include "json/string_escape.h"

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
  // A small object finds the repeat as the key is read, before its value.
  auto small = parse_document(R"({"a":1,"b":{"a":2},"a":[3]})");
  ASSERT_TRUE(small);
  const auto& few = small->as_object().members();
  EXPECT_EQ((std::tuple{few.size(), few[0].key, few[0].value.as_array()[0].as_unsigned(), few[1].key}),
            (std::tuple{2u, "a", 3u, "b"}));
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

// Reading and writing find plain runs of string text a word at a time. Each
// byte that ends a run (and DEL, which ends none) at each offset of strings
// about one and two words long, among bytes just past the stop values: only
// the first stop counts, not a later one in the same word (the closing quote,
// a repeat), and stops among the last bytes, too few for a word, are found.
TEST(ReaderStrings, StopAtTheFirstSpecialByteAtAnyOffset) {
  struct Row {
    std::string literal, value;  // bytes put in, and what they read as
    const char* fault;
  } const rows[] = {{"\x1f", "", "control character (\\u0000-\\u001F) found while parsing a string"},
                    {"\"", "", nullptr}, {"\\\\", "\\", nullptr}, {"\xc3\xa4", "\xc3\xa4", nullptr},
                    {"\xff", "", "invalid unicode code point"}, {"\x7f", "\x7f", nullptr}};
  const auto filler = [](std::size_t from, std::size_t n) {
    std::string s;
    for (std::size_t k = from; k < from + n; ++k) s += " a#]/z\x7f"[k % 7];
    return s;
  };
  const auto escaped = [](std::string_view text) {  // byte by byte, control bytes all as \u00xx
    std::string out = "\"";
    for (const char c : text) {
      if (c == '"' || c == '\\') out += '\\';
      if (static_cast<unsigned char>(c) >= 0x20) out += c;
      else out += std::string("\\u00") + "01"[c >> 4] + "0123456789abcdef"[c & 0xf];
    }
    return out + "\"";
  };
  const auto end = [](const auto& result, const Reader& r) {
    return result ? std::to_string(r.index()) : result.error().text();
  };
  for (const std::size_t size : {7, 8, 9, 15, 16, 17}) {
    for (std::size_t at = 0; at < size; ++at) {
      for (const Row& row : rows) {
        const std::string before = filler(0, at), after = filler(at + 1, size - at - 1);
        const std::string text = "\"" + before + row.literal + after + "\"", where = std::to_string(size) + ": " + text;
        const std::string written = before + row.literal[0] + after;
        for (const std::string& plain : {written, std::string(300, 'p') + written + written}) {  // long: in runs
          std::string out = "x";
          append_json_string(out, plain);
          EXPECT_EQ(out, "x" + escaped(plain)) << where;
        }
        std::string storage;
        Reader viewed(text), copied(text), skipped(text);
        const auto view = viewed.parse_string_view(storage);
        const auto copy = copied.parse_string();
        const auto skip = skipped.skip_value();
        const bool quote = row.literal == "\"";  // ends the string early
        const std::string ends = row.fault ? std::string(row.fault) + " at line 1 column " + std::to_string(at + 2)
                                           : std::to_string(quote ? at + 2 : text.size());
        EXPECT_EQ((std::tuple{end(view, viewed), end(copy, copied), end(skip, skipped)}), std::tuple(ends, ends, ends))
            << where;
        const std::string value = quote ? before : before + row.value + after;
        if (view && copy) EXPECT_EQ((std::tuple{*view, *copy}), (std::tuple{value, value})) << where;
      }
    }
  }
}

}  // namespace
}  // namespace velkor::json
