#include "strategy/rule_codes.h"

#include <gtest/gtest.h>

namespace velkor::strategy::rule {
namespace {

// The compile check's messages that read worst, in JSON words.
TEST(RuleCodes, ErrorsInPlainWords) {
  struct Case {
    std::string_view message, code, plain;
  };
  const Case cases[] = {
      {"invalid length 0, expected struct variant Sizing::FixedFraction with 1 element", kWrongLength,
       "too few elements: element 1 of the array is required"},
      {"invalid length 3, expected 2 elements in sequence", kWrongLength,
       "too many elements: after the kind, expected 2 elements, found 3"},
      {"invalid length 1, expected a tuple of size 2", kWrongLength, "expected an array of 2 elements, found 1"},
      {"invalid type: floating point `2.5`, expected u32", kWrongType,
       "expected a whole number from 0 to 4294967295, found 2.5"},
      {"invalid value: integer `-5`, expected u32", kOutOfRange,
       "expected a whole number from 0 to 4294967295, found -5"},
      {"invalid type: string \"0.5, expected x\", expected f64", kWrongType,
       "expected a number, found the text \"0.5, expected x\""},
      {"invalid type: sequence, expected internally tagged enum Sizing", kWrongType,
       "expected an object with a \"type\" member naming the kind, found an array"},
      {"invalid value: map, expected map with a single key", kNotOneMember,
       "expected an object with exactly one member, the name of the form; found an object with none or several"},
      {"invalid type: map, expected struct StrategySpec", kWrongType,
       "expected an object (or an array of its members in order), found an object"},
      {"unknown variant `limt`, expected one of `market`, `limit`", kUnknownName,
       "`limt` is not a name this place takes; expected one of `market`, `limit`"},
      {"missing field `symbol`", kMissingField, "the required member `symbol` is missing"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    const Explained explained = explain_error(c.message);
    EXPECT_EQ(explained.code, c.code);
    EXPECT_EQ(explained.plain, c.plain);
  }
}

}  // namespace
}  // namespace velkor::strategy::rule
