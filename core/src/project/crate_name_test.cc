#include "project/crate_name.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace velkor::project {
namespace {

json::Value strategy_with_symbol(json::Value symbol) {
  json::Object o;
  o.set("symbol", std::move(symbol));
  o.set("timeframe", json::Value::string("1h"));
  return json::Value::object(std::move(o));
}

CompileSpec spec_for(json::Value strategy, std::optional<std::string> crate_name = std::nullopt) {
  CompileSpec spec;
  spec.strategy = std::move(strategy);
  spec.crate_name = std::move(crate_name);
  return spec;
}

struct SymbolCase {
  std::string symbol;
  std::string expected;  // crate name, or the error message
  bool ok;
};

TEST(CrateName, DerivedFromSymbol) {
  const SymbolCase cases[] = {
      {"BTC-USD", "btc_usd", true},
      {"eth/usdt", "eth_usdt", true},
      {"a b", "a_b", true},
      {"x__Y", "x__y", true},
      {"abc123", "abc123", true},
      // One "_" per character, not per byte: "Ä" is two bytes, "€" three, "𝄞" four.
      {"\xC3\x84" "BC", "crate name \"_bc\" is not a valid identifier (^[a-z][a-z0-9_]*$); set `crate_name`", false},
      {"a\xE2\x82\xAC" "b", "a_b", true},
      {"a\xF0\x9D\x84\x9E", "a_", true},
      {"1INCH", "crate name \"1inch\" is not a valid identifier (^[a-z][a-z0-9_]*$); set `crate_name`", false},
      {"", "crate name \"\" is not a valid identifier (^[a-z][a-z0-9_]*$); set `crate_name`", false},
      {"-x", "crate name \"_x\" is not a valid identifier (^[a-z][a-z0-9_]*$); set `crate_name`", false},
      // Non-ASCII letters are not lowered or kept.
      {"\xC3\xA9t\xC3\xA9", "crate name \"_t_\" is not a valid identifier (^[a-z][a-z0-9_]*$); set `crate_name`",
       false},
  };
  for (const SymbolCase& c : cases) {
    SCOPED_TRACE(c.symbol);
    auto name = resolve_crate_name(spec_for(strategy_with_symbol(json::Value::string(c.symbol))));
    if (c.ok) {
      ASSERT_TRUE(name.has_value()) << name.error().message;
      EXPECT_EQ(*name, c.expected);
    } else {
      ASSERT_FALSE(name.has_value());
      EXPECT_EQ(name.error().kind, CompileErrorKind::kBadSpec);
      EXPECT_EQ(name.error().message, c.expected);
    }
  }
}

TEST(CrateName, GivenNameIsCheckedUnchanged) {
  const SymbolCase cases[] = {
      {"my_bot", "my_bot", true},
      {"a", "a", true},
      {"MyBot", "crate name \"MyBot\" is not a valid identifier (^[a-z][a-z0-9_]*$); set `crate_name`", false},
      {"my-bot", "crate name \"my-bot\" is not a valid identifier (^[a-z][a-z0-9_]*$); set `crate_name`", false},
      {"_x", "crate name \"_x\" is not a valid identifier (^[a-z][a-z0-9_]*$); set `crate_name`", false},
      {"", "crate name \"\" is not a valid identifier (^[a-z][a-z0-9_]*$); set `crate_name`", false},
      // The message quotes the name in debug form.
      {"a\"b\\c\n", "crate name \"a\\\"b\\\\c\\n\" is not a valid identifier (^[a-z][a-z0-9_]*$); set `crate_name`",
       false},
  };
  for (const SymbolCase& c : cases) {
    SCOPED_TRACE(c.symbol);
    // The given name wins even over a symbol that would derive a valid one.
    auto name = resolve_crate_name(spec_for(strategy_with_symbol(json::Value::string("ok")), c.symbol));
    if (c.ok) {
      ASSERT_TRUE(name.has_value()) << name.error().message;
      EXPECT_EQ(*name, c.expected);
    } else {
      ASSERT_FALSE(name.has_value());
      EXPECT_EQ(name.error().message, c.expected);
    }
  }
}

TEST(CrateName, NoSymbolToDeriveFrom) {
  json::Array positional;
  positional.push_back(json::Value::string("BTC-USD"));
  json::Value strategies[] = {
      json::Value::array(std::move(positional)),
      json::Value::object(),
      strategy_with_symbol(json::Value::unsigned_integer(5)),
      strategy_with_symbol(json::Value()),
      json::Value::string("BTC"),
  };
  for (json::Value& strategy : strategies) {
    auto name = resolve_crate_name(spec_for(std::move(strategy)));
    ASSERT_FALSE(name.has_value());
    EXPECT_EQ(name.error().kind, CompileErrorKind::kBadSpec);
    EXPECT_EQ(name.error().message, "no crate_name and the strategy has no string `symbol` to derive one");
  }
  // A given name needs no symbol.
  auto name = resolve_crate_name(spec_for(json::Value::array(), "bot"));
  ASSERT_TRUE(name.has_value());
  EXPECT_EQ(*name, "bot");
}

TEST(CrateName, McuAllowlistOrder) {
  const std::string_view expected[] = {
      "thumbv6m-none-eabi",      "thumbv7m-none-eabi",        "thumbv7em-none-eabi",          "thumbv7em-none-eabihf",
      "thumbv8m.main-none-eabi", "thumbv8m.main-none-eabihf", "riscv32imac-unknown-none-elf",
  };
  ASSERT_EQ(mcu_allowlist().size(), std::size(expected));
  for (std::size_t i = 0; i < std::size(expected); ++i) EXPECT_EQ(mcu_allowlist()[i], expected[i]);
}

struct McuCase {
  TargetKind kind;
  std::string mcu;
  std::string error;  // empty when accepted
};

TEST(CrateName, CheckMcu) {
  const McuCase cases[] = {
      {TargetKind::kNoStd, "thumbv7em-none-eabihf", ""},
      {TargetKind::kNoStd, "riscv32imac-unknown-none-elf", ""},
      {TargetKind::kNoStd, "thumbv7em-none-eabihf ", "mcu \"thumbv7em-none-eabihf \" is not in the allowlist"},
      {TargetKind::kNoStd, "THUMBV6M-NONE-EABI", "mcu \"THUMBV6M-NONE-EABI\" is not in the allowlist"},
      {TargetKind::kNoStd, "", "mcu \"\" is not in the allowlist"},
      {TargetKind::kNoStd, std::string("thumbv6m-none-eabi\0", 19), "mcu \"thumbv6m-none-eabi\\0\" is not in the allowlist"},
      {TargetKind::kNoStd, "x\"y", "mcu \"x\\\"y\" is not in the allowlist"},
      // Only no_std targets name an mcu; others never fail here.
      {TargetKind::kWasm, "nonsense", ""},
      {TargetKind::kBinary, "", ""},
  };
  for (const McuCase& c : cases) {
    SCOPED_TRACE(c.mcu);
    auto checked = check_mcu(Target{c.kind, c.mcu});
    if (c.error.empty()) {
      EXPECT_TRUE(checked.has_value());
    } else {
      ASSERT_FALSE(checked.has_value());
      EXPECT_EQ(checked.error().kind, CompileErrorKind::kBadTarget);
      EXPECT_EQ(checked.error().message, c.error);
    }
  }
}

}  // namespace
}  // namespace velkor::project
