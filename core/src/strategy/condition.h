// The condition language of the entry and exit rules: comparisons, crossings,
// range and trend tests, boolean combinations and position tests over
// operands (indicator names, constants, price expressions). Only the form is
// checked; nothing is evaluated, and indicator names are not resolved (the
// diagnostics pass warns of names that no indicator declares).
#ifndef VELKOR_STRATEGY_CONDITION_H_
#define VELKOR_STRATEGY_CONDITION_H_

#include <string_view>

#include "json/value.h"
#include "strategy/record_reader.h"

namespace velkor::strategy {

// Every malformed operand, at any depth, gets this one message.
inline constexpr std::string_view kNoMatchingOperand = "data did not match any variant of untagged enum Operand";

// Conditions and operands nested more than this many levels inside each other
// are refused with kRecursionLimit. A value read from a request never gets
// there (the request reader's nesting limit is lower); the guard keeps a value
// built directly in C++ from exhausting the stack.
inline constexpr int kMaxNesting = 128;
inline constexpr std::string_view kRecursionLimit = "recursion limit exceeded";

Status read_condition(const json::Value& v, Check& check);
Status read_operand(const json::Value& v, Check& check);
// The same, stopping at the first failure.
Status read_condition(const json::Value& v);
Status read_operand(const json::Value& v);

}  // namespace velkor::strategy

#endif  // VELKOR_STRATEGY_CONDITION_H_
