#include "strategy/trading_settings.h"

namespace velkor::strategy {
namespace {

using enum Presence;

// Sizing: every field of every variant is required.
constexpr Field kFixedFraction[] = {{"fraction", read_number, kRequired}};
constexpr Field kFixedQty[] = {{"qty", read_number, kRequired}};
constexpr Field kFixedCash[] = {{"cash", read_number, kRequired}};
constexpr Field kVolTarget[] = {{"target_vol", read_number, kRequired}, {"lookback", read_u32, kRequired}};
constexpr Field kRiskPerTrade[] = {{"risk_pct", read_number, kRequired}};

constexpr TaggedVariant kSizingVariants[] = {
    {"fixed_fraction", {"struct variant Sizing::FixedFraction", kFixedFraction}},
    {"fixed_qty", {"struct variant Sizing::FixedQty", kFixedQty}},
    {"fixed_cash", {"struct variant Sizing::FixedCash", kFixedCash}},
    {"vol_target", {"struct variant Sizing::VolTarget", kVolTarget}},
    {"risk_per_trade", {"struct variant Sizing::RiskPerTrade", kRiskPerTrade}},
};
constexpr TaggedChoice kSizing{"internally tagged enum Sizing", kSizingVariants};

constexpr Field kFixedBps[] = {{"bps", read_number, kRequired}};
constexpr Field kVolumeImpact[] = {{"coef", read_number, kRequired}};

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
    {"maker_bps", read_number},
    {"taker_bps", read_number},
    {"slippage", read_slippage},
    {"funding", read_boolean},
};
constexpr Record kCosts{"struct Costs", kCostsFields};

constexpr Field kRiskFields[] = {
    {"stop_loss_pct", read_number, kNullable},
    {"take_profit_pct", read_number, kNullable},
    {"trailing_stop_pct", read_number, kNullable},
    {"max_leverage", read_number, kNullable},
    {"max_position_pct", read_number, kNullable},
    {"liquidation", read_boolean},
};
constexpr Record kRisk{"struct Risk", kRiskFields};

constexpr Field kExecutionFields[] = {
    {"order_type", read_order_type},
    {"fill_timing", read_fill_timing},
    {"limit_offset_pct", read_number, kNullable},
    {"stop_offset_pct", read_number, kNullable},
    {"latency_bars", read_u32},
    {"partial_fills", read_boolean},
    {"max_participation", read_number, kNullable},
};
constexpr Record kExecution{"struct Execution", kExecutionFields};

}  // namespace

Status read_sizing(const json::Value& v, Check& check) { return read_tagged_choice(kSizing, v, check); }
Status read_slippage(const json::Value& v, Check& check) { return read_tagged_choice(kSlippage, v, check); }
Status read_costs(const json::Value& v, Check& check) { return read_record(kCosts, v, check); }
Status read_risk(const json::Value& v, Check& check) { return read_record(kRisk, v, check); }
Status read_execution(const json::Value& v, Check& check) { return read_record(kExecution, v, check); }

}  // namespace velkor::strategy
