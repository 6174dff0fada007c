#include "strategy/condition.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "strategy/test_support_strategy.h"
#include "strategy/validate.h"

namespace velkor::strategy {
namespace {

using testing::parse_json;

constexpr std::string_view kAccepted = "";
constexpr std::string_view kNoOperand = "data did not match any variant of untagged enum Operand";
constexpr std::string_view kUnitVariant = "invalid type: unit variant, expected newtype variant";
constexpr std::string_view kSingleKey = "invalid value: map, expected map with a single key";

std::string outcome(const Status& s) { return s ? std::string() : s.error(); }

struct Case {
  std::string_view json;
  std::string_view expected;  // kAccepted, or the message
};

TEST(StrategyCondition, AcceptsEveryFormAndRefusesWithTheFirstFailure) {
  const Case cases[] = {
      {R"({"gt": ["rsi", 70]})", kAccepted},  // names need not be declared
      {R"({"cross_above": [{"price": "close"}, "sma_slow"]})", kAccepted},
      {R"({"between": ["rsi", 30, 70]})", kAccepted},
      {R"({"falling": ["ema", 4294967295]})", kAccepted},
      {R"({"not": {"any": [{"in_position": false}, {"gt": [1, 2]}]}})", kAccepted},
      {R"({"bars_since_entry": {"ge": 10}})", kAccepted},
      // Choice selection: the name is checked before the payload.
      {R"("in_position")", kUnitVariant},
      {R"("xor")",
       "unknown variant `xor`, expected one of `gt`, `lt`, `ge`, `le`, `eq`, `ne`, `cross_above`, `cross_below`, "
       "`between`, `rising`, `falling`, `all`, `any`, `not`, `in_position`, `bars_since_entry`"},
      {R"({"gt": [1, 2], "lt": [3, 4]})", kSingleKey},
      {R"(5)", "invalid type: integer `5`, expected string or map"},
      // Pairs and triples.
      {R"({"gt": [1]})", "invalid length 1, expected a tuple of size 2"},
      {R"({"gt": [1, 2, 3]})", "invalid length 3, expected fewer elements in array"},
      {R"({"gt": [true, 1, 3]})", kNoOperand},  // elements are read before the surplus is refused
      {R"({"between": ["rsi", 30]})", "invalid length 2, expected a tuple of size 3"},
      // Operand and count.
      {R"({"rising": ["ema", 2.0]})", "invalid type: floating point `2.0`, expected u32"},
      {R"({"falling": ["ema", 4294967296]})", "invalid value: integer `4294967296`, expected u32"},
      // Lists and negation: the first failing element wins, nested messages surface unchanged.
      {R"({"all": [{"in_position": true}, {"gt": [1]}]})", "invalid length 1, expected a tuple of size 2"},
      {R"({"not": {"not": {"all": [{"gt": ["a", "b", "c"]}]}}})", "invalid length 3, expected fewer elements in array"},
      // Position tests.
      {R"({"bars_since_entry": {"gte": 10}})", "unknown variant `gte`, expected one of `gt`, `lt`, `ge`, `le`, `eq`"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.json);
    EXPECT_EQ(outcome(read_condition(parse_json(c.json))), c.expected);
  }
}

TEST(StrategyOperand, AcceptsNamesConstantsAndExpressions) {
  for (std::string_view json : {R"("close")", R"(-3)", R"({"price": {"volume": null}})",
                                R"({"mul": [{"sub": ["a", {"add": [1, 2]}]}, {"prev": [{"price": "open"}, 2]}]})"}) {
    EXPECT_EQ(outcome(read_operand(parse_json(json))), kAccepted) << json;
  }
}

// Whatever is wrong inside an operand, at any depth, the message is the same.
TEST(StrategyOperand, EveryMalformationGivesTheOneMessage) {
  const std::string_view refused[] = {
      R"(true)", R"({"price": "Close"})", R"({"price": "close", "add": [1, 2]})", R"({"max": [1, 2]})",
      R"({"prev": [{"price": "open"}, -1]})", R"({"add": [1, 2, 3]})",
      R"({"mul": [{"div": [{"price": "hl2"}, 2]}, 1]})",
  };
  for (std::string_view json : refused) {
    SCOPED_TRACE(json);
    EXPECT_EQ(outcome(read_operand(parse_json(json))), kNoOperand);
    // Inside a condition the operand message is reported as it is.
    EXPECT_EQ(outcome(read_condition(parse_json(R"({"gt": [1, )" + std::string(json) + "]}"))), kNoOperand);
  }
}

// Values built in C++ can nest far deeper than any request; the check must
// refuse them without exhausting the stack, and say why.
TEST(StrategyCondition, NestingIsBounded) {
  const struct {
    int levels;
    std::string_view open, inner, close;
    std::string_view expected;
  } cases[] = {
      // A strategy read from a request holds at most 125 levels below itself.
      {123, R"({"not":)", R"({"in_position":true})", "}", kAccepted},
      {61, R"({"add":[)", R"("close")", ",1]}", kAccepted},
      {100000, R"({"not":)", R"({"in_position":true})", "}", kRecursionLimit},
      // Not hidden behind the operand message: the cause is the depth.
      {100000, R"({"add":[)", R"("close")", ",1]}", kRecursionLimit},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.open) + " x" + std::to_string(c.levels));
    std::string text;
    for (int i = 0; i < c.levels; ++i) text += c.open;
    text += c.inner;
    for (int i = 0; i < c.levels; ++i) text += c.close;
    if (c.open.starts_with(R"({"add")")) text = R"({"gt":[)" + text + ",1]}";
    EXPECT_EQ(outcome(read_condition(parse_json(text))), c.expected);
  }
}

}  // namespace
}  // namespace velkor::strategy
