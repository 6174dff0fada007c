#include "strategy/trading_settings.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "strategy/test_support_strategy.h"

namespace velkor::strategy {
namespace {

using testing::parse_json;

constexpr char kAccepted[] = "";
constexpr std::string_view kSizingNames =
    "`fixed_fraction`, `fixed_qty`, `fixed_cash`, `vol_target`, `risk_per_trade`";

std::string outcome(const Status& s) { return s ? std::string() : s.error(); }

struct Case {
  Reader read;
  std::string_view json;
  std::string expected;  // kAccepted, or the message
};

// Each reader: both forms, what it ignores, and one row per message form.
TEST(StrategyTradingSettings, FormsAndMessages) {
  const Case cases[] = {
      // Sizing.
      {read_sizing, R"({"type": "fixed_fraction", "fraction": 0.1, "qty": "x"})", kAccepted},  // not its field
      {read_sizing, R"({"type": "fixed_fraction"})", "missing field `fraction`"},
      // The tag is identified before any field is read.
      {read_sizing, R"({"fraction": "x", "type": "kelly"})",
       "unknown variant `kelly`, expected one of " + std::string(kSizingNames)},
      {read_sizing, R"({"fraction": "x", "type": "fixed_fraction"})", "invalid type: string \"x\", expected f64"},
      {read_sizing, R"("fixed_qty")", "invalid type: string \"fixed_qty\", expected internally tagged enum Sizing"},
      // Sizing, by position.
      {read_sizing, R"(["fixed_fraction", 0.1])", kAccepted},
      {read_sizing, R"(["fixed_fraction"])",
       "invalid length 0, expected struct variant Sizing::FixedFraction with 1 element"},
      {read_sizing, R"(["vol_target", 0.2])",
       "invalid length 1, expected struct variant Sizing::VolTarget with 2 elements"},
      {read_sizing, R"(["fixed_fraction", 0.1, 3])", "invalid length 2, expected 1 element in sequence"},
      // Elements are read before the surplus is refused.
      {read_sizing, R"(["fixed_fraction", "x", 3])", "invalid type: string \"x\", expected f64"},
      {read_sizing, R"(["vol_target", 0.2, 2e1, 1])", "invalid type: floating point `20.0`, expected u32"},
      // Slippage, both forms.
      {read_slippage, R"({"type": "spread", "bps": "x"})", kAccepted},  // no fields: every other member ignored
      {read_slippage, R"({"type": "market_impact"})",
       "unknown variant `market_impact`, expected one of `fixed_bps`, `spread`, `volume_impact`"},
      {read_slippage, R"(["spread", 1])", "invalid length 1, expected 0 elements in sequence"},
      {read_slippage, R"(["fixed_bps"])",
       "invalid length 0, expected struct variant Slippage::FixedBps with 1 element"},
      // Costs.
      {read_costs, R"({"maker_bps": -2, "taker_bps": 5.5, "funding": true, "rebate": "x"})", kAccepted},
      {read_costs, R"([1, 2, ["spread"], true])", kAccepted},
      {read_costs, R"({"slippage": {"type": "volume_impact"}})", "missing field `coef`"},
      {read_costs, R"("cheap")", "invalid type: string \"cheap\", expected struct Costs"},
      // Risk.
      {read_risk, R"({"stop_loss_pct": null, "liquidation": true})", kAccepted},
      {read_risk, R"({"max_leverage": "10"})", "invalid type: string \"10\", expected f64"},
      {read_risk, R"([null, null, null, null, null, false, 1])", "invalid length 7, expected fewer elements in array"},
      // Execution.
      {read_execution, R"({"order_type": "stop_limit", "fill_timing": "close"})", kAccepted},
      {read_execution, R"(["limit", "close", 0.1, null, 2, false, 0.25])", kAccepted},
      {read_execution, R"({"order_type": "iceberg"})",
       "unknown variant `iceberg`, expected one of `market`, `limit`, `stop`, `stop_limit`"},
      {read_execution, R"({"fill_timing": "open"})", "unknown variant `open`, expected `next_open` or `close`"},
      {read_execution, R"(7)", "invalid type: integer `7`, expected struct Execution"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.json);
    Check check;
    EXPECT_EQ(outcome(c.read(parse_json(c.json), check)), c.expected);
  }
}

}  // namespace
}  // namespace velkor::strategy
