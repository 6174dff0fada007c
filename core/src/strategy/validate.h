// The strategy document check: whether a JSON value is a well-formed
// StrategySpec (symbol, timeframe, indicators, entry and exit rules, sizing,
// costs, risk, execution, warm-up).
#ifndef VELKOR_STRATEGY_VALIDATE_H_
#define VELKOR_STRATEGY_VALIDATE_H_

#include <expected>
#include <string>

#include "json/value.h"
#include "strategy/check.h"

namespace velkor::strategy {

// Success, or the first failure's message, e.g. "missing field `symbol`".
// Members are checked in document order, then the required fields in
// declaration order, so a bad value is reported in preference to a missing
// field. The message carries no position and no prefix; the compile command
// wraps it. Pure: nothing is kept, the value is not changed.
std::expected<void, std::string> validate_strategy(const json::Value& strategy);
// The same check reporting to `check` (see strategy/check.h).
Status validate_strategy(const json::Value& strategy, Check& check);

}  // namespace velkor::strategy

#endif  // VELKOR_STRATEGY_VALIDATE_H_
