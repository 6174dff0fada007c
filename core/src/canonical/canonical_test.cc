#include "canonical/canonical.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "json/reader.h"

namespace velkor {
namespace {

std::string canonical(std::string_view text) {
  auto value = json::parse_document(text, json::Reader::Depth::kUnlimited);
  return value ? canonical_json(*value) : "fault: " + value.error().text();
}

// An object of `keys` in this order, each member's value its position.
std::string object_of(const std::vector<std::string>& keys) {
  std::string text = "{";
  for (std::size_t i = 0; i < keys.size(); ++i) text += (i ? ",\"" : "\"") + keys[i] + "\":" + std::to_string(i);
  return text + "}";
}

TEST(CanonicalJson, Writes) {
  const std::pair<std::string, std::string> cases[] = {
      {R"({"b":[3,1.0,{"z":null,"a":true}],"a":"x\ny\u001f\/","A":-0.000001,"aa":1e16,"ä":2.50,"":1e2})",
       "{\"\":100.0,\"A\":-1e-6,\"a\":\"x\\ny\\u001f/\",\"aa\":1e+16,\"b\":[3,1.0,{\"a\":true,\"z\":null}],"
       "\"\xc3\xa4\":2.5}"},
      // Number kinds as read: integers while they fit, doubles beyond, zero's sign kept.
      {"[1,1.0,18446744073709551615,18446744073709551616,-1,-9223372036854775808,-9223372036854775809,-0,"
       "0.30000000000000000001,1e-400,-1e-400,-0.000e+99999999999,1e000000000000005,2.2250738585072011e-308]",
       "[1,1.0,18446744073709551615,1.8446744073709552e+19,-1,-9223372036854775808,-9.223372036854776e+18,-0.0,0.3,"
       "0.0,-0.0,-0.0,100000.0,2.225073858507201e-308]"},
      {R"("\"\\\b\t\n\f\r\u0000\u001f)" "\x7f/\xc3\xa4\xe2\x82\xac\"",
       "\"\\\"\\\\\\b\\t\\n\\f\\r\\u0000\\u001f\x7f/\xc3\xa4\xe2\x82\xac\""},
      {R"([{"y":{"d":1,"c":2},"x":[{"q":3,"p":4}]},{"b":[],"a":{},"c":[[],{}]}])",
       R"([{"x":[{"p":4,"q":3}],"y":{"c":2,"d":1}},{"a":{},"b":[],"c":[[],{}]}])"},
      // Keys by unsigned bytes: not case-insensitive, multi-byte UTF-8 after
      // ASCII, U+FFFF (EF BF BF) before U+1F600 (F0 9F 98 80).
      {object_of({"\xc3\xa4", "a", "_", "B", "", "\xf0\x9f\x98\x80", "\xef\xbf\xbf", "~"}),
       "{\"\":4,\"B\":3,\"_\":2,\"a\":1,\"~\":7,\"\xc3\xa4\":0,\"\xef\xbf\xbf\":6,\"\xf0\x9f\x98\x80\":5}"},
      // Enough keys for the sort by 8-byte prefix: ties in the prefix, a short
      // key against its extensions, a high byte (a padded or signed prefix misorders them).
      {object_of({"abcdefghb", "abcdefgh", "\xc3\xa4", "abcdefgha", "abcdefg", "z", "y", "x", "w", "v", "u", "t", "s",
                  "r", "q", "p", "o", "n", "m", "l", "k", "j", "i"}),
       "{\"abcdefg\":4,\"abcdefgh\":1,\"abcdefgha\":3,\"abcdefghb\":0,\"i\":22,\"j\":21,\"k\":20,\"l\":19,\"m\":18,"
       "\"n\":17,\"o\":16,\"p\":15,\"q\":14,\"r\":13,\"s\":12,\"t\":11,\"u\":10,\"v\":9,\"w\":8,\"x\":7,\"y\":6,"
       "\"z\":5,\"\xc3\xa4\":2}"},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(canonical(text), expected) << text;
}

TEST(CanonicalJson, MillionDeepObjectDoesNotExhaustTheStack) {
  constexpr int kDeep = 1'000'000;
  std::string text, expected;
  for (int i = 0; i < kDeep; ++i) text += "{\"k\":";
  text += "{}";
  for (int i = 0; i < kDeep; ++i) text += ",\"a\":" + std::to_string(i % 10) + "}";
  for (int i = kDeep - 1; i >= 0; --i) expected += "{\"a\":" + std::to_string(i % 10) + ",\"k\":";
  EXPECT_EQ(canonical(text), expected + "{}" + std::string(kDeep, '}'));
  // The writer's working memory, given back after so deep a document, serves again.
  EXPECT_EQ(canonical(R"({"b":1,"a":[{"d":2,"c":3}]})"), R"({"a":[{"c":3,"d":2}],"b":1})");
}

}  // namespace
}  // namespace velkor
