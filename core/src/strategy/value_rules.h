// Warnings for values that pass the schema but are plainly wrong: fractions
// outside their range, a leverage of 0, an indicator period of -5, an empty
// `all`, a warm-up shorter than the longest period, a timeframe no market
// uses. The compile check accepts all of these; only the diagnostics pass
// (a collecting Check) reports them, each with its code (strategy/rule_codes.h).
#ifndef VELKOR_STRATEGY_VALUE_RULES_H_
#define VELKOR_STRATEGY_VALUE_RULES_H_

#include <cstdint>
#include <limits>
#include <string_view>

#include "json/value.h"
#include "strategy/check.h"

namespace velkor::strategy {

// The sensible range of a number field: above `low` (or at it, when
// `low_allowed`) and at most `high`, or at most `high` times the strategy's
// leverage when `scaled_by_leverage`.
struct NumberRule {
  std::string_view field;
  std::string_view code;
  std::string_view meaning;  // what the number is, in words: "a fraction of equity"
  double low = 0;
  bool low_allowed = false;
  double high = std::numeric_limits<double>::infinity();
  bool scaled_by_leverage = false;
};

// A number (as read_number), then, for the diagnostics pass, its range.
Status read_ruled_number(const NumberRule& rule, const json::Value& v, Check& check);
template <const NumberRule& R>
Status read_ruled(const json::Value& v, Check& check) {
  return read_ruled_number(R, v, check);
}

// The leverage a strategy allows (risk.max_leverage, 1 when not given or not
// a positive number) and the longest period of its indicators, read from the
// document as it stands (object or array form) before it is checked.
double allowed_leverage(const json::Value& strategy);
struct LongestPeriod {
  double bars = 0;  // a double: a period may be a whole number no integer type holds
  std::string_view indicator;
};
LongestPeriod longest_period(const json::Value& strategy);

// Warnings on one indicator declaration already read: periods that are not
// positive whole numbers.
void check_periods(const json::Value& indicator, Check& check);
// A condition list: a warning when it is empty.
void check_condition_list(std::string_view form, const json::Value& list, Check& check);
// A `between` test with two constant bounds: a warning when low is above high.
void check_between(const json::Value& operands, Check& check);

Status read_timeframe(const json::Value& v, Check& check);
Status read_warmup(const json::Value& v, Check& check);

}  // namespace velkor::strategy

#endif  // VELKOR_STRATEGY_VALUE_RULES_H_
