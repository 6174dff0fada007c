#include "strategy/trading_settings.h"

#include <limits>

#include "strategy/rule_codes.h"
#include "strategy/value_rules.h"

namespace velkor::strategy {
namespace {

using enum Presence;

// The sensible ranges of the numbers (strategy/value_rules.h). Fields named
// *_pct, like the sizing fractions, are fractions: 0.05 means 5%.
constexpr double kNone = std::numeric_limits<double>::infinity();
constexpr NumberRule kFraction{"fraction", rule::kFractionRange, "a fraction of equity (0.25 means 25%)", 0, false, 1,
                               true};
constexpr NumberRule kQty{"qty", rule::kNonPositiveSize, "the quantity bought", 0, false, kNone};
constexpr NumberRule kCash{"cash", rule::kNonPositiveSize, "the cash put in a trade", 0, false, kNone};
constexpr NumberRule kTargetVol{"target_vol", rule::kFractionRange, "an annual volatility (0.2 means 20%)", 0, false, 5};
constexpr NumberRule kRiskPct{"risk_pct", rule::kFractionRange, "the fraction of equity risked a trade", 0, false, 1};
constexpr NumberRule kMakerBps{"maker_bps", rule::kCostRange, "a fee in basis points (1 is 0.01%)", -100, true, 1000};
constexpr NumberRule kTakerBps{"taker_bps", rule::kCostRange, "a fee in basis points (1 is 0.01%)", 0, true, 1000};
constexpr NumberRule kSlippageBps{"bps", rule::kCostRange, "a slippage in basis points (1 is 0.01%)", 0, true, 1000};
constexpr NumberRule kImpactCoef{"coef", rule::kCostRange, "a price impact coefficient", 0, true, kNone};
constexpr NumberRule kStopLoss{"stop_loss_pct", rule::kFractionRange, "a fraction of the entry price", 0, false, 1};
constexpr NumberRule kTakeProfit{"take_profit_pct", rule::kFractionRange, "a fraction of the entry price", 0, false,
                                 1};
constexpr NumberRule kTrailingStop{"trailing_stop_pct", rule::kFractionRange, "a fraction of the price", 0, false, 1};
constexpr NumberRule kMaxLeverage{"max_leverage", rule::kLeverage, "a multiple of equity", 0, false, kNone};
constexpr NumberRule kMaxPosition{"max_position_pct", rule::kFractionRange, "a fraction of equity", 0, false, 1,
                                  true};
constexpr NumberRule kLimitOffset{"limit_offset_pct", rule::kFractionRange, "a fraction of the price", 0, true, 1};
constexpr NumberRule kStopOffset{"stop_offset_pct", rule::kFractionRange, "a fraction of the price", 0, true, 1};
constexpr NumberRule kParticipation{"max_participation", rule::kFractionRange, "a fraction of a bar's volume", 0, false,
                                    1};

// Sizing: every field of every variant is required.
constexpr Field kFixedFraction[] = {{"fraction", read_ruled<kFraction>, kRequired}};
constexpr Field kFixedQty[] = {{"qty", read_ruled<kQty>, kRequired}};
constexpr Field kFixedCash[] = {{"cash", read_ruled<kCash>, kRequired}};
constexpr Field kVolTarget[] = {{"target_vol", read_ruled<kTargetVol>, kRequired}, {"lookback", read_u32, kRequired}};
constexpr Field kRiskPerTrade[] = {{"risk_pct", read_ruled<kRiskPct>, kRequired}};

constexpr TaggedVariant kSizingVariants[] = {
    {"fixed_fraction", {"struct variant Sizing::FixedFraction", kFixedFraction}},
    {"fixed_qty", {"struct variant Sizing::FixedQty", kFixedQty}},
    {"fixed_cash", {"struct variant Sizing::FixedCash", kFixedCash}},
    {"vol_target", {"struct variant Sizing::VolTarget", kVolTarget}},
    {"risk_per_trade", {"struct variant Sizing::RiskPerTrade", kRiskPerTrade}},
};
constexpr TaggedChoice kSizing{"internally tagged enum Sizing", kSizingVariants};

constexpr Field kFixedBps[] = {{"bps", read_ruled<kSlippageBps>, kRequired}};
constexpr Field kVolumeImpact[] = {{"coef", read_ruled<kImpactCoef>, kRequired}};

constexpr TaggedVariant kSlippageVariants[] = {
    {"fixed_bps", {"struct variant Slippage::FixedBps", kFixedBps}},
    {"spread", {"struct variant Slippage::Spread", {}}},
    {"volume_impact", {"struct variant Slippage::VolumeImpact", kVolumeImpact}},
};
constexpr TaggedChoice kSlippage{"internally tagged enum Slippage", kSlippageVariants};

constexpr std::string_view kOrderTypes[] = {"market", "limit", "stop", "stop_limit"};
constexpr std::string_view kFillTimings[] = {"next_open", "close"};

Status read_order_type(const json::Value& v, Check& check) { return read_name_only(v, kOrderTypes, check); }
Status read_fill_timing(const json::Value& v, Check& check) { return read_name_only(v, kFillTimings, check); }

// Costs, Risk and Execution: every field may be left out.
constexpr Field kCostsFields[] = {
    {"maker_bps", read_ruled<kMakerBps>},
    {"taker_bps", read_ruled<kTakerBps>},
    {"slippage", read_slippage},
    {"funding", read_boolean},
};
constexpr Record kCosts{"struct Costs", kCostsFields};

constexpr Field kRiskFields[] = {
    {"stop_loss_pct", read_ruled<kStopLoss>, kNullable},
    {"take_profit_pct", read_ruled<kTakeProfit>, kNullable},
    {"trailing_stop_pct", read_ruled<kTrailingStop>, kNullable},
    {"max_leverage", read_ruled<kMaxLeverage>, kNullable},
    {"max_position_pct", read_ruled<kMaxPosition>, kNullable},
    {"liquidation", read_boolean},
};
constexpr Record kRisk{"struct Risk", kRiskFields};

constexpr Field kExecutionFields[] = {
    {"order_type", read_order_type},
    {"fill_timing", read_fill_timing},
    {"limit_offset_pct", read_ruled<kLimitOffset>, kNullable},
    {"stop_offset_pct", read_ruled<kStopOffset>, kNullable},
    {"latency_bars", read_u32},
    {"partial_fills", read_boolean},
    {"max_participation", read_ruled<kParticipation>, kNullable},
};
constexpr Record kExecution{"struct Execution", kExecutionFields};

}  // namespace

Status read_sizing(const json::Value& v, Check& check) { return read_tagged_choice(kSizing, v, check); }
Status read_slippage(const json::Value& v, Check& check) { return read_tagged_choice(kSlippage, v, check); }
Status read_costs(const json::Value& v, Check& check) { return read_record(kCosts, v, check); }
Status read_risk(const json::Value& v, Check& check) { return read_record(kRisk, v, check); }
Status read_execution(const json::Value& v, Check& check) { return read_record(kExecution, v, check); }

}  // namespace velkor::strategy
