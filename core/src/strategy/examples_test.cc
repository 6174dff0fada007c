// The shipped example strategies must stay valid as the schema evolves.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "strategy/test_json.h"
#include "strategy/validate.h"

namespace velkor::strategy {
namespace {

TEST(StrategyExamples, AreAccepted) {
  const char* files[] = {
      "ma_cross.json",      "ma_cross_positional.json",      "rsi_mean_reversion.json",
      "breakout_risk.json", "breakout_risk_positional.json",
  };
  for (const char* file : files) {
    SCOPED_TRACE(file);
    std::ifstream in(std::string(VELKOR_SOURCE_DIR "/examples/") + file, std::ios::binary);
    ASSERT_TRUE(in) << "cannot open";
    std::stringstream text;
    text << in.rdbuf();
    const json::Value strategy = testing::parse_json(text.str());
    const auto checked = validate_strategy(strategy);
    EXPECT_TRUE(checked.has_value()) << checked.error();
  }
}

}  // namespace
}  // namespace velkor::strategy
