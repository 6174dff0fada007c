#include "strategy/value_rules.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "json/messages.h"
#include "json/number_text.h"
#include "strategy/record_reader.h"
#include "strategy/rule_codes.h"

namespace velkor::strategy {
namespace {

using json::Value;

// Indicator kinds whose leading parameters are lengths in bars, and how many
// of them. Kinds not listed (and the parameters after these) are not looked
// at: their parameters may be anything (a multiplier, an acceleration step).
struct PeriodKind {
  std::string_view type;
  std::size_t periods;
};
constexpr PeriodKind kPeriodKinds[] = {
    {"sma", 1},        {"ema", 1},          {"wma", 1},           {"dema", 1},          {"tema", 1},
    {"hma", 1},        {"vwma", 1},         {"rsi", 1},           {"atr", 1},           {"adx", 1},
    {"cci", 1},        {"roc", 1},          {"mfi", 1},           {"momentum", 1},      {"stddev", 1},
    {"williams_r", 1}, {"highest", 1},      {"lowest", 1},        {"donchian_upper", 1}, {"donchian_lower", 1},
    {"donchian_mid", 1}, {"sma_volume", 1}, {"ema_volume", 1},    {"bollinger_upper", 1}, {"bollinger_lower", 1},
    {"bollinger_mid", 1}, {"keltner_upper", 1}, {"keltner_lower", 1}, {"supertrend", 1}, {"zscore", 1},
    {"macd", 3},       {"macd_signal", 3},  {"macd_hist", 3},     {"stoch", 3},         {"stoch_k", 2},
    {"stoch_d", 3},
};

// The timeframes markets quote bars in.
constexpr std::string_view kTimeframes[] = {"1s", "5s", "15s", "30s", "1m", "3m", "5m", "10m", "15m", "30m",
                                            "45m", "1h", "2h", "3h", "4h", "6h", "8h", "12h", "1d", "2d",
                                            "3d", "1w", "1M"};

// The member `key` of an object, or element `index` of an array.
const Value* field_of(const Value& record, std::string_view key, std::size_t index) {
  if (record.is_object()) return record.as_object().find(key);
  if (record.is_array() && record.as_array().size() > index) return &record.as_array()[index];
  return nullptr;
}

const json::Array* period_params(const Value& indicator, std::size_t& periods) {
  const Value* type = field_of(indicator, "type", 0);
  const Value* params = field_of(indicator, "params", 1);
  if (type == nullptr || !type->is_string() || params == nullptr || !params->is_array()) return nullptr;
  const auto kind = std::ranges::find(kPeriodKinds, type->as_string(), &PeriodKind::type);
  if (kind == std::end(kPeriodKinds)) return nullptr;
  periods = kind->periods;
  return &params->as_array();
}

bool is_whole_positive(const Value& v) {
  if (!v.is_number()) return false;
  const double d = v.to_double();
  return d >= 1 && d == std::floor(d);
}

}  // namespace

Status read_ruled_number(const NumberRule& rule, const Value& v, Check& check) {
  if (Status s = read_number(v, check); !s || !check.collecting()) return s;
  const double d = v.to_double();
  const double high = rule.high * (rule.scaled_by_leverage ? check.facts().leverage : 1.0);
  const bool too_low = rule.low_allowed ? d < rule.low : d <= rule.low;
  if ((!too_low && d <= high) || check.counted_only(v)) return {};
  const std::string shown = rule::number_words(d);
  std::string range = std::string(rule.low_allowed ? "at least " : "above ") + rule::number_words(rule.low);
  if (std::isfinite(high)) range += " and at most " + rule::number_words(high);
  std::string message = "`" + std::string(rule.field) + "` is " + shown + ", outside its sensible range (" + range + ")";
  std::string plain = "`" + std::string(rule.field) + "` is " + std::string(rule.meaning) + "; expected a number " +
                      range + ", found " + shown;
  std::optional<std::string> suggestion;
  // A percentage written as such (5 for 5%) where a fraction (0.05) is meant.
  if (!too_low && high <= 1 && d <= 100) {
    suggestion = rule::number_words(d / 100);
    message += "; " + shown + " is " + rule::number_words(d * 100) + "%, and " + shown + "% is written " + *suggestion;
    plain += ": fractions are written 0.05 for 5%";
  }
  check.warn(v, Anchor::kValue, Warning{rule.code, std::move(message), std::move(plain), std::move(suggestion)});
  return {};
}

double allowed_leverage(const Value& strategy) {
  const Value* risk = field_of(strategy, "risk", 11);
  const Value* leverage = risk != nullptr ? field_of(*risk, "max_leverage", 3) : nullptr;
  if (leverage == nullptr || !leverage->is_number()) return 1;
  return std::max(1.0, leverage->to_double());
}

LongestPeriod longest_period(const Value& strategy) {
  LongestPeriod longest;
  const Value* indicators = field_of(strategy, "indicators", 4);
  if (indicators == nullptr || !indicators->is_object()) return longest;
  for (const json::Member& m : indicators->as_object()) {
    std::size_t periods = 0;
    const json::Array* params = period_params(m.value, periods);
    if (params == nullptr) continue;
    for (std::size_t i = 0; i < std::min(periods, params->size()); ++i) {
      const Value& p = (*params)[i];
      if (!is_whole_positive(p) || p.to_double() <= longest.bars) continue;
      longest = LongestPeriod{p.to_double(), m.key};
    }
  }
  return longest;
}

void check_periods(const Value& indicator, Check& check) {
  if (!check.collecting()) return;
  std::size_t periods = 0;
  const json::Array* params = period_params(indicator, periods);
  if (params == nullptr) return;
  for (std::size_t i = 0; i < std::min(periods, params->size()); ++i) {
    const Value& p = (*params)[i];
    if (!p.is_number() || is_whole_positive(p) || check.counted_only(p)) continue;
    const std::string shown = rule::number_words(p.to_double());
    std::optional<std::string> suggestion;
    if (p.to_double() > 1) suggestion = rule::number_words(std::round(p.to_double()));
    check.warn(p, Anchor::kValue,
               Warning{rule::kPeriod, "indicator period " + shown + " is not a positive whole number",
                       "a period counts bars: expected a whole number of 1 or more, found " + shown,
                       std::move(suggestion)});
  }
}

void check_condition_list(std::string_view form, const Value& list, Check& check) {
  if (!check.collecting() || !list.is_array() || !list.as_array().empty() || check.counted_only(list)) return;
  const bool all = form == "all";
  check.warn(list, Anchor::kValue,
             Warning{rule::kEmptyList,
                     "empty `" + std::string(form) + "`: " + (all ? "always true" : "never true"),
                     "`" + std::string(form) + "` of an empty array is " + (all ? "always true, so it holds on every bar"
                                                                               : "never true, so it never holds")});
}

void check_between(const Value& operands, Check& check) {
  if (!check.collecting() || !operands.is_array() || operands.as_array().size() != 3) return;
  const Value& low = operands.as_array()[1];
  const Value& high = operands.as_array()[2];
  if (!low.is_number() || !high.is_number() || low.to_double() <= high.to_double() || check.counted_only(low)) return;
  check.warn(low, Anchor::kValue,
             Warning{rule::kEmptyRange,
                     "`between` bounds " + rule::number_words(low.to_double()) + " and " + rule::number_words(high.to_double()) +
                         " are in the wrong order: never true",
                     "`between` takes [value, low, high]; the low bound is above the high one, so it never holds"});
}

Status read_timeframe(const Value& v, Check& check) {
  if (Status s = read_string(v, check); !s || !check.collecting()) return s;
  if (std::ranges::find(kTimeframes, v.as_string()) != std::end(kTimeframes) || check.counted_only(v)) return {};
  const std::string shown(v.as_string());
  check.warn(v, Anchor::kValue,
             Warning{rule::kTimeframe, "unknown timeframe `" + shown + "`",
                     "`" + shown + "` is not a bar length this tool knows; expected " + json::alternatives(kTimeframes),
                     check.closest(shown, kTimeframes)});
  return {};
}

Status read_warmup(const Value& v, Check& check) {
  if (Status s = read_u32(v, check); !s || !check.collecting()) return s;
  const DocumentFacts& facts = check.facts();
  if (static_cast<double>(v.as_unsigned()) >= facts.longest_period || check.counted_only(v)) return {};
  const std::string longest = rule::number_words(facts.longest_period);
  const std::string name(facts.longest_period_indicator);
  check.warn(v, Anchor::kValue,
             Warning{rule::kShortWarmup,
                     "warmup of " + std::to_string(v.as_unsigned()) + " bars is shorter than the period of `" + name +
                         "` (" + longest + " bars)",
                     "the first bars are traded before `" + name + "` has its " + longest +
                         " bars of history; a warm-up of at least " + longest + " bars waits for it",
                     longest});
  return {};
}

}  // namespace velkor::strategy
