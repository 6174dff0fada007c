// The trading settings of a strategy: position sizing, costs with their
// slippage model, risk limits and order execution. Only the form is checked;
// a number outside its sensible range is a warning of the diagnostics pass
// (strategy/value_rules.h), never a failure.
#ifndef VELKOR_STRATEGY_TRADING_SETTINGS_H_
#define VELKOR_STRATEGY_TRADING_SETTINGS_H_

#include "json/value.h"
#include "strategy/record_reader.h"

namespace velkor::strategy {

Status read_sizing(const json::Value& v, Check& check);
Status read_slippage(const json::Value& v, Check& check);
Status read_costs(const json::Value& v, Check& check);
Status read_risk(const json::Value& v, Check& check);
Status read_execution(const json::Value& v, Check& check);

}  // namespace velkor::strategy

#endif  // VELKOR_STRATEGY_TRADING_SETTINGS_H_
