#include "strategy/validate.h"

#include "strategy/condition.h"
#include "strategy/record_reader.h"
#include "strategy/trading_settings.h"

namespace velkor::strategy {
namespace {

using enum Presence;

constexpr std::string_view kFeeds[] = {"kline", "trade", "orderbook", "trade_quote", "derivatives", "cross_section"};

Status read_feed(const json::Value& v) { return read_name_only(v, kFeeds); }

Status read_params(const json::Value& v) {
  if (!v.is_array()) return wrong_type(v, "a sequence");
  for (const json::Value& param : v.as_array()) {
    if (Status s = read_number(param); !s) return s;
  }
  return {};
}

constexpr Field kIndicatorFields[] = {
    {"type", read_string, kRequired},
    {"params", read_params},
    {"feed", read_feed, kNullable},
};
constexpr Record kIndicatorSpec{"struct IndicatorSpec", kIndicatorFields};

// Indicator names are free text; each declaration is checked in document order.
Status read_indicators(const json::Value& v) {
  if (!v.is_object()) return wrong_type(v, "a map");
  for (const json::Member& indicator : v.as_object()) {
    if (Status s = read_record(kIndicatorSpec, indicator.value); !s) return s;
  }
  return {};
}

constexpr Field kStrategyFields[] = {
    {"spec_version", read_u32},
    {"symbol", read_string, kRequired},
    {"ref_symbol", read_string, kNullable},
    {"timeframe", read_string, kRequired},
    {"indicators", read_indicators, kRequired},
    {"entry", read_condition, kRequired},
    {"exit", read_condition, kRequired},
    {"short_entry", read_condition, kNullable},
    {"short_exit", read_condition, kNullable},
    {"sizing", read_sizing, kRequired},
    {"costs", read_costs},
    {"risk", read_risk},
    {"execution", read_execution},
    {"warmup", read_u32, kNullable},
};
constexpr Record kStrategySpec{"struct StrategySpec", kStrategyFields};

}  // namespace

std::expected<void, std::string> validate_strategy(const json::Value& strategy) {
  return read_record(kStrategySpec, strategy);
}

}  // namespace velkor::strategy
