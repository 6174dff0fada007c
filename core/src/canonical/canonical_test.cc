#include "canonical/canonical.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "json/test_support_json.h"
#include "support/test_support_names.h"

namespace velkor {
namespace {

using json::Array;
using json::Object;
using json::Value;

struct KV {
  std::string key;
  Value value;
};

template <class... Items>
Value arr(Items&&... items) {
  Array a;
  (a.push_back(std::forward<Items>(items)), ...);
  return Value::array(std::move(a));
}

template <class... Members>
Value obj(Members&&... members) {
  Object o;
  (set_member(o, std::move(members.key), std::move(members.value)), ...);
  return Value::object(std::move(o));
}

Value u(std::uint64_t n) { return Value::unsigned_integer(n); }
Value f(double d) { return Value::floating(d); }
Value s(std::string text) { return Value::string(std::move(text)); }

TEST(CanonicalJsonTest, WorkedExample) {
  const Value v = obj(KV{"b", arr(u(3), f(1.0), obj(KV{"z", Value()}, KV{"a", Value::boolean(true)}))},
                      KV{"a", s("x\ny\x1f/")}, KV{"A", f(-0.000001)}, KV{"aa", f(1e16)},
                      KV{"\xc3\xa4", f(2.50)}, KV{"", f(1e2)});
  EXPECT_EQ(canonical_json(v),
            "{\"\":100.0,\"A\":-1e-6,\"a\":\"x\\ny\\u001f/\",\"aa\":1e+16,"
            "\"b\":[3,1.0,{\"a\":true,\"z\":null}],\"\xc3\xa4\":2.5}");
}

struct KeyOrderCase {
  std::vector<std::string> inserted;
  const char* canonical;
};

class KeyOrderTest : public testing::TestWithParam<KeyOrderCase> {};

TEST_P(KeyOrderTest, SortsKeysByUnsignedBytes) {
  Object o;
  for (const std::string& key : GetParam().inserted) set_member(o, key, u(o.size()));
  EXPECT_EQ(canonical_json(Value::object(std::move(o))), GetParam().canonical);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, KeyOrderTest,
    testing::Values(
        // code point order, not case-insensitive, multi-byte UTF-8 after ASCII
        KeyOrderCase{{"\xc3\xa4", "a", "_", "B", ""}, "{\"\":4,\"B\":3,\"_\":2,\"a\":1,\"\xc3\xa4\":0}"},
        // bytes >= 0x80 are not negative; U+FFFF (EF BF BF) before U+1F600 (F0 9F 98 80)
        KeyOrderCase{{"\xf0\x9f\x98\x80", "\xef\xbf\xbf", "~"},
                     "{\"~\":2,\"\xef\xbf\xbf\":1,\"\xf0\x9f\x98\x80\":0}"},
        KeyOrderCase{{"abcdefghb", "abcdefgh", "\xc3\xa4", "abcdefgha", "abcdefg", "z", "y", "x", "w", "v", "u", "t",
                      "s", "r", "q", "p", "o", "n", "m", "l", "k", "j", "i"},
                     "{\"abcdefg\":4,\"abcdefgh\":1,\"abcdefgha\":3,\"abcdefghb\":0,\"i\":22,\"j\":21,\"k\":20,"
                     "\"l\":19,\"m\":18,\"n\":17,\"o\":16,\"p\":15,\"q\":14,\"r\":13,\"s\":12,\"t\":11,\"u\":10,"
                     "\"v\":9,\"w\":8,\"x\":7,\"y\":6,\"z\":5,\"\xc3\xa4\":2}"}),
    [](const auto& info) { return test_row_name(info.index, info.param.canonical); });

struct TextCase {
  const char* name;
  Value (*make)();
  const char* canonical;
};

class CanonicalTextTest : public testing::TestWithParam<TextCase> {};

TEST_P(CanonicalTextTest, Writes) { EXPECT_EQ(canonical_json(GetParam().make()), GetParam().canonical); }

INSTANTIATE_TEST_SUITE_P(
    Values, CanonicalTextTest,
    testing::Values(
        TextCase{"number_kinds_kept",
                 [] { return arr(u(1), f(1.0), Value::signed_integer(INT64_MIN), f(-0.0), u(UINT64_MAX)); },
                 "[1,1.0,-9223372036854775808,-0.0,18446744073709551615]"},
        TextCase{"escapes", [] { return s(std::string("\"\\\b\t\n\f\r\x00\x1f\x7f/", 11) + "\xc3\xa4\xe2\x82\xac"); },
                 "\"\\\"\\\\\\b\\t\\n\\f\\r\\u0000\\u001f\x7f/\xc3\xa4\xe2\x82\xac\""},
        TextCase{"empty_containers", [] { return obj(KV{"b", arr()}, KV{"a", obj()}, KV{"c", arr(arr(), obj())}); },
                 "{\"a\":{},\"b\":[],\"c\":[[],{}]}"},
        TextCase{"nested_objects_sorted",
                 [] { return arr(obj(KV{"y", obj(KV{"d", u(1)}, KV{"c", u(2)})}, KV{"x", arr(obj(KV{"q", u(3)}, KV{"p", u(4)}))})); },
                 "[{\"x\":[{\"p\":4,\"q\":3}],\"y\":{\"c\":2,\"d\":1}}]"}),
    [](const auto& info) { return std::string(info.param.name); });

constexpr int kDeep = 1'000'000;

TEST(CanonicalJsonTest, MillionDeepObjectDoesNotExhaustTheStack) {
  Value v = obj();
  for (int i = 0; i < kDeep; ++i) v = obj(KV{"k", std::move(v)}, KV{"a", u(i % 10)});
  std::string expected;
  for (int i = kDeep - 1; i >= 0; --i) expected += "{\"a\":" + std::to_string(i % 10) + ",\"k\":";
  expected += "{}" + std::string(kDeep, '}');
  EXPECT_EQ(canonical_json(v), expected);
}

// Random values with keys drawn from pieces that stress the byte order.
Value random_value(std::mt19937& rng, int depth) {
  static const char* const kPieces[] = {"a", "b", "B", "_", "\xc3\xa4", "\xf0\x9f\x98\x80", "\x1f", "\"", "z"};
  const int kind = static_cast<int>(rng() % (depth > 0 ? 8 : 6));
  switch (kind) {
    case 0:
      return Value();
    case 1:
      return Value::boolean(rng() % 2 == 0);
    case 2:
      return u(rng());
    case 3:
      return Value::signed_integer(-static_cast<std::int64_t>(rng() % 1000) - 1);
    case 4:
      return f(static_cast<double>(rng() % 100000) / 100.0);
    case 5:
      return s(kPieces[rng() % 9]);
    case 6: {
      Array items;
      for (std::uint32_t i = rng() % 4; i > 0; --i) items.push_back(random_value(rng, depth - 1));
      return Value::array(std::move(items));
    }
    default: {
      Object o;
      for (std::uint32_t i = rng() % 30; i > 0; --i) {
        std::string key;
        for (std::uint32_t p = rng() % 4; p > 0; --p) key += kPieces[rng() % 9];
        set_member(o, std::move(key), random_value(rng, depth - 1));
      }
      return Value::object(std::move(o));
    }
  }
}

// A deep copy whose objects list their members in a shuffled order.
Value shuffled(const Value& v, std::mt19937& rng) {
  if (v.is_array()) {
    Array items;
    for (const Value& item : v.as_array()) items.push_back(shuffled(item, rng));
    return Value::array(std::move(items));
  }
  if (!v.is_object()) return deep_copy(v);
  std::vector<const json::Member*> members;
  for (const json::Member& m : v.as_object()) members.push_back(&m);
  std::shuffle(members.begin(), members.end(), rng);
  Object o;
  for (const json::Member* m : members) set_member(o, m->key, shuffled(m->value, rng));
  return Value::object(std::move(o));
}

TEST(CanonicalJsonPropertyTest, TextIgnoresKeyOrder) {
  std::mt19937 rng(42);
  for (int i = 0; i < 3000; ++i) {
    const Value v = random_value(rng, 4);
    ASSERT_EQ(canonical_json(shuffled(v, rng)), canonical_json(v));
  }
}

TEST(CanonicalWriterTest, ChunksConcatenateToTheCanonicalText) {
  std::mt19937 rng(9);
  Array items;
  for (int i = 0; i < 300; ++i) items.push_back(random_value(rng, 3));
  const Value v = Value::array(std::move(items));
  const std::string expected = "<" + canonical_json(v) + "|" + canonical_json(v) + ">";
  for (const std::size_t chunk_size : {std::size_t{1}, std::size_t{7}, std::size_t{4096}, std::size_t{1} << 20}) {
    std::string streamed;
    CanonicalWriter writer([&](std::string_view chunk) {
      EXPECT_FALSE(chunk.empty());
      streamed.append(chunk);
    }, chunk_size);
    // Pieces as the spec hash feeds them: small ones, and one text larger than a chunk.
    const std::string text = canonical_json(v);
    writer.write_text("<");
    for (std::size_t at = 0; at < text.size(); at += 100) writer.write_text(std::string_view(text).substr(at, 100));
    writer.write_text("|");
    writer.write_text(text);
    writer.write_text(">");
    writer.flush();
    EXPECT_EQ(streamed, expected) << chunk_size;
  }
}

}  // namespace
}  // namespace velkor
