#include "strategy/validate.h"

#include "strategy/condition.h"
#include "strategy/record_reader.h"
#include "strategy/trading_settings.h"
#include "strategy/value_rules.h"

namespace velkor::strategy {
namespace {

using enum Presence;

constexpr std::string_view kFeeds[] = {"kline", "trade", "orderbook", "trade_quote", "derivatives", "cross_section"};

Status read_feed(const json::Value& v, Check& check) { return read_name_only(v, kFeeds, check); }

Status read_params(const json::Value& v, Check& check) {
  if (!v.is_array()) return wrong_type(v, "a sequence");
  Status whole;
  for (const json::Value& param : v.as_array()) {
    if (Status s = read_number(param, check); check.ends(s, param, whole)) return s;
  }
  return whole;
}

constexpr Field kIndicatorFields[] = {
    {"type", read_string, kRequired},
    {"params", read_params},
    {"feed", read_feed, kNullable},
};
constexpr Record kIndicatorSpec{"struct IndicatorSpec", kIndicatorFields};

// Indicator names are free text; each declaration is checked in document order.
Status read_indicators(const json::Value& v, Check& check) {
  if (!v.is_object()) return wrong_type(v, "a map");
  Status whole;
  for (const json::Member& indicator : v.as_object()) {
    check.member(indicator);
    if (Status s = read_record(kIndicatorSpec, indicator.value, check); check.ends(s, indicator.value, whole)) return s;
    check_periods(indicator.value, check);
  }
  return whole;
}

constexpr Field kStrategyFields[] = {
    {"spec_version", read_u32},
    {"symbol", read_string, kRequired},
    {"ref_symbol", read_string, kNullable},
    {"timeframe", read_timeframe, kRequired},
    {"indicators", read_indicators, kRequired},
    {"entry", read_condition, kRequired},
    {"exit", read_condition, kRequired},
    {"short_entry", read_condition, kNullable},
    {"short_exit", read_condition, kNullable},
    {"sizing", read_sizing, kRequired},
    {"costs", read_costs},
    {"risk", read_risk},
    {"execution", read_execution},
    {"warmup", read_warmup, kNullable},
};
constexpr Record kStrategySpec{"struct StrategySpec", kStrategyFields};

}  // namespace

std::expected<void, std::string> validate_strategy(const json::Value& strategy) {
  Check check;
  return read_record(kStrategySpec, strategy, check);
}

Status validate_strategy(const json::Value& strategy, Check& check) {
  return read_record(kStrategySpec, strategy, check);
}

}  // namespace velkor::strategy
