#include "strategy/validate.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "strategy/test_support_strategy.h"

namespace velkor::strategy {
namespace {

using testing::parse_json;

constexpr std::string_view kAccepted = "";

// Every required field, nothing else.
constexpr std::string_view kMinimal = R"({
  "symbol": "BTC-USD", "timeframe": "1h", "indicators": {},
  "entry": {"in_position": false}, "exit": {"in_position": true},
  "sizing": {"type": "fixed_fraction", "fraction": 0.1}
})";

// The same fields by position, with every optional field given.
constexpr std::string_view kPositional = R"([1, "BTC-USD", null, "1h", {}, {"in_position": false},
  {"in_position": true}, null, null, ["fixed_fraction", 0.1], [], [], [], null])";

std::string outcome(const std::expected<void, std::string>& s) { return s ? std::string() : s.error(); }

// The minimal document with one more member: a key it has already is
// repeated, and the reader keeps the later value in the first place.
std::string outcome_with(std::string_view key, std::string_view value) {
  std::string text(kMinimal);
  text.insert(text.rfind('}'), ", \"" + std::string(key) + "\": " + std::string(value));
  return outcome(validate_strategy(parse_json(text)));
}

struct Case {
  std::string_view json;
  std::string_view expected;  // kAccepted, or the message
};

TEST(StrategySpec, WholeDocuments) {
  const Case cases[] = {
      {kMinimal, kAccepted},
      {R"({})", "missing field `symbol`"},
      // A bad value anywhere wins over missing fields.
      {R"({"symbol": 1})", "invalid type: integer `1`, expected a string"},
      // Members in document order: the first bad one is reported.
      {R"({"timeframe": 5, "symbol": 1})", "invalid type: integer `5`, expected a string"},
      // Missing fields in declaration order.
      {R"({"sizing": {"type": "fixed_qty", "qty": 1}, "symbol": "X"})", "missing field `timeframe`"},
      {R"({"symbol": "X", "timeframe": "1d", "indicators": {}, "entry": {"all": []}, "exit": {"any": []}})",
       "missing field `sizing`"},
      // Optional fields may be absent; unknown members are not looked at.
      {R"({"symbol": "X", "timeframe": "1d", "indicators": {}, "entry": {"all": []}, "exit": {"any": []},
           "sizing": ["fixed_qty", 1], "notes": {"x": [null, {"gt": 5}]}, "Symbol": 1})", kAccepted},
      // A repeated key: the later value is the one checked.
      {R"({"symbol": 1, "timeframe": "1h", "indicators": {}, "entry": {"all": []}, "exit": {"all": []},
           "sizing": ["fixed_qty", 1], "symbol": "ETH/USDT"})", kAccepted},
      // Not a record at all.
      {R"("abc")", "invalid type: string \"abc\", expected struct StrategySpec"},
      // By position.
      {kPositional, kAccepted},
      {R"([1, "BTC-USD", null, "1h", {}, {"all": []}, {"all": []}, null, null, ["fixed_qty", 1]])", kAccepted},
      {R"([1, "BTC-USD", null, "1h", {}, {"all": []}, {"all": []}, null, null])",
       "invalid length 9, expected struct StrategySpec with 14 elements"},
      {R"([null, "BTC-USD"])", "invalid type: null, expected u32"},
      {R"([1, "BTC-USD", null, "1h", {}, {"all": []}, {"all": []}, null, null, ["fixed_qty", 1], [], [], [], null, 0])",
       "invalid length 15, expected fewer elements in array"},
      // A failure among the first 14 elements wins over the surplus.
      {R"([1, "BTC-USD", null, "1h", {}, {"all": []}, {"all": []}, null, null, ["fixed_qty", 1], [], [], [], -1, 0])",
       "invalid value: integer `-1`, expected u32"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.json);
    EXPECT_EQ(outcome(validate_strategy(parse_json(c.json))), c.expected);
  }
}

struct FieldCase {
  std::string_view key;
  std::string_view json;  // the member's value
  std::string_view expected;
};

TEST(StrategySpec, FieldValues) {
  const FieldCase cases[] = {
      {"spec_version", "4294967295", kAccepted},
      {"short_exit", R"({"gt": [1]})", "invalid length 1, expected a tuple of size 2"},
      {"execution", "null", "invalid type: null, expected struct Execution"},
      {"warmup", "4294967296", "invalid value: integer `4294967296`, expected u32"},
      // Indicators.
      {"indicators", R"({"sma": {"type": "sma", "params": [14, 2.5], "feed": "kline"}})", kAccepted},
      {"indicators", R"({"": {"type": ""}, "x": ["ema"], "y": ["ema", [], null]})", kAccepted},
      {"indicators", R"({"x": {"type": "sma", "params": ["14"]}})", "invalid type: string \"14\", expected f64"},
      {"indicators", R"({"x": {"type": "sma", "feed": "tick"}})",
       "unknown variant `tick`, expected one of `kline`, `trade`, `orderbook`, `trade_quote`, `derivatives`, "
       "`cross_section`"},
      {"indicators", R"({"x": {"type": "sma", "feed": {}}})", "invalid value: map, expected map with a single key"},
      {"indicators", R"({"x": []})", "invalid length 0, expected struct IndicatorSpec with 3 elements"},
      {"indicators", R"({"x": ["sma", [1], "trade", 4]})", "invalid length 4, expected fewer elements in array"},
  };
  for (const FieldCase& c : cases) EXPECT_EQ(outcome_with(c.key, c.json), c.expected) << c.key << ": " << c.json;
}

// How offending values are rendered in messages.
TEST(StrategySpec, RendersOffendingValues) {
  const Case cases[] = {
      {"0.5", "floating point `0.5`"},
      {"-0", "floating point `-0.0`"},
      {"1e15", "floating point `1000000000000000.0`"},
      {"1e16", "floating point `1e16`"},
      {"18446744073709551615", "integer `18446744073709551615`"},
      {R"("a\"b\\c")", R"(string "a\"b\\c")"},
      {R"("\n\r\t\u0000")", R"(string "\n\r\t\0")"},
      {R"("\u0001\u001f\u007f\u0085\u009f")", R"(string "\u{1}\u{1f}\u{7f}\u{85}\u{9f}")"},
      {R"("é€ \u00a0/'")", "string \"\xC3\xA9\xE2\x82\xAC \xC2\xA0/'\""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(outcome_with("entry", "{\"in_position\": " + std::string(c.json) + "}"),
              "invalid type: " + std::string(c.expected) + ", expected a boolean");
  }
}

}  // namespace
}  // namespace velkor::strategy
