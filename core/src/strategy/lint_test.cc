#include "strategy/lint.h"

#include <gtest/gtest.h>

#include <cctype>

#include <fstream>
#include <random>
#include <sstream>

#include "json/reader.h"
#include "json/test_support_json.h"
#include "strategy/closest_name.h"
#include "strategy/validate.h"

namespace velkor::strategy {
namespace {

using json::Value;

// One problem as one line: "E /path 9:5 message -> suggestion".
std::string line_of(const Problem& p) {
  std::string out = p.severity == Severity::kError ? "E " : "W ";
  out += p.path + " " + std::to_string(p.line) + ":" + std::to_string(p.column) + " " + p.message;
  if (p.suggestion) out += " -> " + *p.suggestion;
  return out;
}

std::vector<std::string> lint_lines(std::string_view text) {
  std::vector<std::string> out;
  for (const Problem& p : lint_strategy(text).problems) out.push_back(line_of(p));
  return out;
}

constexpr char kHead[] = R"({"symbol": "BTC", "timeframe": "1h",
  "indicators": {"rsi": {"type": "rsi", "params": [14]}},
  "entry": {"lt": ["rsi", 30]}, "exit": {"gt": ["rsi", 70]},
  "sizing": {"type": "fixed_fraction", "fraction": 0.5},
)";

TEST(StrategyLint, ProblemsWithPathsPositionsAndSuggestions) {
  struct Case {
    std::string text;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {std::string(kHead) + R"(  "costs": {"maker_fee_bps": 2, "taker_bps": 5},
  "warm_up": 50})",
       {"W /costs/maker_fee_bps 5:13 unknown field `maker_fee_bps` -> maker_bps",
        "W /warm_up 6:3 unknown field `warm_up` -> warmup"}},
      // An undeclared name, a price name, a string where a number belongs, the
      // message inside the compile check's operand rule; column in characters.
      {R"({"symbol": "€€", "timeframe": "1h", "indicators": {"rsi": {"type": "rsi", "params": ["14"]}},
 "entry": {"lt": ["rsi_14", "close"]}, "exit": {"gt": [{"price": "clse"}, 1]},
 "sizing": {"type": "fixed_frac", "fraction": 0.5}, "risk": {"max_leverage": "0.5"}})",
       {"E /indicators/rsi/params/0 1:86 invalid type: string \"14\", expected f64",
        "W /entry/lt/0 2:19 no indicator named `rsi_14` is declared -> rsi",
        "W /entry/lt/1 2:29 no indicator named `close` is declared; the bar's close is written {\"price\": \"close\"}",
        "E /exit/gt/0 2:56 data did not match any variant of untagged enum Operand",
        "E /sizing/type 3:21 unknown variant `fixed_frac`, expected one of `fixed_fraction`, `fixed_qty`, "
        "`fixed_cash`, `vol_target`, `risk_per_trade` -> fixed_fraction",
        "E /risk/max_leverage 3:78 invalid type: string \"0.5\", expected f64"}},
      // Missing members at the closing bracket, after what the record holds;
      // a repeated key is met where it first stands, with its last value.
      {R"({"symbol": "X", "timeframe": 1, "indicators": {"a": {"params": []}, "a": {"type": "t"}},
 "entry": {"all": [{"gt": [1]}, {"nope": 1}]}, "exit": {"in_position": 1}, "sizing": ["vol_target", 1, 2, 3]})",
       {"E /timeframe 1:30 invalid type: integer `1`, expected a string",
        "W /indicators/a 1:69 duplicate field `a`: only its last value is read",
        "E /entry/all/0/gt 2:29 invalid length 1, expected a tuple of size 2",
        "E /entry/all/1/nope 2:34 unknown variant `nope`, expected one of `gt`, `lt`, `ge`, `le`, `eq`, `ne`, "
        "`cross_above`, `cross_below`, `between`, `rising`, `falling`, `all`, `any`, `not`, `in_position`, "
        "`bars_since_entry` -> ne",
        "E /exit/in_position 2:72 invalid type: integer `1`, expected a boolean",
        "E /sizing/3 2:107 invalid length 3, expected 2 elements in sequence"}},
      {R"({"symbol": "X", "timeframe": "1h", "indicators": {}, "entry": {"in_position": true},
 "sizing": {"fraction": 1}})",
       {"E /sizing 2:26 missing field `type`", "E  2:27 missing field `exit`"}},
      // Not JSON: the reader's description at the fault.
      {"{\"symbol\": \"X\",\n  \"timeframe\": \"1h\",,}", {"E  2:21 key must be a string"}},
      {"[1, 2", {"E  1:5 EOF while parsing a list"}},
      {"{\"symbol\": \"X\",\n  \"timeframe\": \"1h\",\n}", {"E  2:20 trailing comma"}},
      {"[1, \"é\" , ]", {"E  1:9 trailing comma"}},
      {"\"abc\"", {"E  1:1 invalid type: string \"abc\", expected struct StrategySpec"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(lint_lines(c.text), c.expected);
  }
}

// One problem as "CODE /path line:column message -> suggestion".
std::vector<std::string> coded_lines(std::string_view text) {
  std::vector<std::string> out;
  for (const Problem& p : lint_strategy(text).problems) out.push_back(std::string(p.code) + " " + line_of(p).substr(2));
  return out;
}

// A sound strategy with `tail` members added (each line starts with a comma).
std::string sound_with(std::string_view tail) {
  return R"({"symbol": "BTC", "timeframe": "1h", "indicators": {"ma": {"type": "sma", "params": [20]}},
 "entry": {"gt": [{"price": "close"}, "ma"]}, "exit": {"lt": [{"price": "close"}, "ma"]})" +
         std::string(tail) + "}";
}

TEST(StrategyLint, RulesForValuesThatPassTheSchemaButArePlainlyWrong) {
  struct Case {
    std::string text;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {sound_with(R"(, "sizing": {"type": "fixed_fraction", "fraction": 7})"),
       {"VK101 /sizing/fraction 2:140 `fraction` is 7, outside its sensible range (above 0 and at most 1); 7 is "
        "700%, and 7% is written 0.07 -> 0.07"}},
      {sound_with(R"(, "sizing": ["fixed_fraction", 0.5], "risk": [-0.02, 5, null, 0, 3])"),
       {"VK101 /risk/0 2:135 `stop_loss_pct` is -0.02, outside its sensible range (above 0 and at most 1)",
        "VK101 /risk/1 2:142 `take_profit_pct` is 5, outside its sensible range (above 0 and at most 1); 5 is 500%, "
        "and 5% is written 0.05 -> 0.05",
        "VK102 /risk/3 2:151 `max_leverage` is 0, outside its sensible range (above 0)",
        "VK101 /risk/4 2:154 `max_position_pct` is 3, outside its sensible range (above 0 and at most 1); 3 is "
        "300%, and 3% is written 0.03 -> 0.03"}},
      {sound_with(R"(, "sizing": {"type": "fixed_qty", "qty": 0}, "costs": {"taker_bps": -1, "slippage": ["fixed_bps", 2000]})"),
       {"VK109 /sizing/qty 2:130 `qty` is 0, outside its sensible range (above 0)",
        "VK107 /costs/taker_bps 2:157 `taker_bps` is -1, outside its sensible range (at least 0 and at most 1000)",
        "VK107 /costs/slippage/1 2:187 `bps` is 2000, outside its sensible range (at least 0 and at most 1000)"}},
      {R"({"symbol": "BTC", "timeframe": "1hr", "indicators": {"a": {"type": "ema", "params": [-5]},
 "b": ["rsi", [14.5]], "c": {"type": "macd", "params": [12, 0, 9]}, "d": {"type": "psar", "params": [0.02, 0.2]},
 "slow": {"type": "sma", "params": [200]}},
 "entry": {"all": []}, "exit": {"any": [{"between": ["a", 70, 30]}]}, "sizing": {"type": "fixed_qty", "qty": 1},
 "warmup": 50})",
       {"VK106 /timeframe 1:32 unknown timeframe `1hr` -> 1h",
        "VK103 /indicators/a/params/0 1:86 indicator period -5 is not a positive whole number",
        "VK103 /indicators/b/1/0 2:16 indicator period 14.5 is not a positive whole number -> 15",
        "VK103 /indicators/c/params/1 2:61 indicator period 0 is not a positive whole number",
        "VK104 /entry/all 4:19 empty `all`: always true",
        "VK108 /exit/any/0/between/1 4:59 `between` bounds 70 and 30 are in the wrong order: never true",
        "VK105 /warmup 5:12 warmup of 50 bars is shorter than the period of `slow` (200 bars) -> 200"}},
      // A period no integer type holds is still compared and shown as written.
      {R"({"symbol": "B", "timeframe": "1h", "indicators": {"x": {"type": "sma", "params": [1e22]}},
 "entry": {"in_position": true}, "exit": {"in_position": false}, "sizing": {"type": "fixed_qty", "qty": 1}, "warmup": 5})",
       {"VK105 /warmup 2:119 warmup of 5 bars is shorter than the period of `x` (1e22 bars) -> 1e22"}},
      // Sensible values at the edges of the rules: no warning.
      {R"({"symbol": "ETH", "timeframe": "1d", "indicators": {"sar": {"type": "psar", "params": [0.02, 0.2]},
 "bb": {"type": "bollinger_upper", "params": [20, 2.5]}, "m": ["macd", [12, 26, 9]], "f": {"type": "vwap"}},
 "entry": {"all": [{"between": ["sar", 0.5, 0.5]}, {"between": [{"price": "close"}, "bb", 3]}]},
 "exit": {"any": [{"not": {"in_position": true}}]}, "sizing": {"type": "fixed_fraction", "fraction": 3},
 "costs": {"maker_bps": -0.5, "taker_bps": 0, "slippage": {"type": "fixed_bps", "bps": 0}},
 "risk": {"stop_loss_pct": 0.5, "take_profit_pct": 1, "max_leverage": 10, "max_position_pct": 1},
 "execution": {"limit_offset_pct": 0, "max_participation": 1}, "warmup": 26})",
       {}},
      // Within what the leverage allows; a fault the compile check refuses is
      // its error alone, whatever the rules would say of the value.
      {sound_with(R"(, "sizing": {"type": "fixed_fraction", "fraction": 1.5}, "risk": {"max_leverage": 2})"), {}},
      {sound_with(R"(, "sizing": {"type": "fixed_fraction", "fraction": 7}, "warmup": -1)"),
       {"VK101 /sizing/fraction 2:140 `fraction` is 7, outside its sensible range (above 0 and at most 1); 7 is "
        "700%, and 7% is written 0.07 -> 0.07",
        "VK004 /warmup 2:154 invalid value: integer `-1`, expected u32"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(coded_lines(c.text), c.expected);
  }
}

TEST(StrategyLint, ExamplesHaveNoProblem) {
  for (const char* name : {"ma_cross", "ma_cross_positional", "rsi_mean_reversion", "breakout_risk",
                           "breakout_risk_positional"}) {
    std::ifstream file(std::string(VELKOR_SOURCE_DIR) + "/examples/" + name + ".json");
    std::stringstream text;
    text << file.rdbuf();
    SCOPED_TRACE(name);
    ASSERT_FALSE(text.str().empty());
    EXPECT_EQ(lint_lines(text.str()), std::vector<std::string>());
  }
}

// `count` members named prefix + i on one line, after a sound head.
std::string with_members(std::string_view prefix, std::size_t count, std::string_view value = "1") {
  std::string text = R"({"symbol": "X", "timeframe": "1h", "indicators": {}, "entry": {"in_position": true},)"
                     R"( "exit": {"in_position": false}, "sizing": {"type": "fixed_qty", "qty": 1})";
  for (std::size_t i = 0; i < count; ++i) {
    text += ", \"" + std::string(prefix) + std::to_string(i) + "\": " + std::string(value);
  }
  return text + "}";
}

TEST(StrategyLint, ListsAtMostTheCapAndCountsWhatItLeavesOut) {
  struct Case {
    std::string text;
    std::size_t max_problems;
    std::vector<std::string> listed;
    std::size_t omitted_errors, omitted_warnings;
  };
  const Case cases[] = {
      // Columns on one long line, carried from problem to problem.
      {with_members("é", 4), 2, {"W /é0 1:161 unknown field `é0`", "W /é1 1:170 unknown field `é1`"}, 0, 2},
      // An error after the cap still counts as an error.
      {R"({"symbol": "X", "a": 1, "b": 1})", 2, {"W /a 1:17 unknown field `a`", "W /b 1:25 unknown field `b`"}, 5, 0},
      {"[1,", 0, {}, 1, 0},
      {with_members("k", 3), 3, {"W /k0 1:161 unknown field `k0`", "W /k1 1:170 unknown field `k1`",
                                 "W /k2 1:179 unknown field `k2`"}, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const LintReport report = lint_strategy(c.text, c.max_problems);
    std::vector<std::string> listed;
    for (const Problem& p : report.problems) listed.push_back(line_of(p));
    EXPECT_EQ(listed, c.listed);
    EXPECT_EQ(report.omitted_errors, c.omitted_errors);
    EXPECT_EQ(report.omitted_warnings, c.omitted_warnings);
  }
}

// Each pointer below repeats a 20,000-byte key: listing all 2,000 problems
// would take 40 MB for a 42 kB text.
TEST(StrategyLint, ListedTextStaysWithinABoundOfTheDocument) {
  const std::string key(20000, 'k');
  std::string text = R"({"symbol": "X", "timeframe": "1h", "indicators": {")" + key + R"(": {"type": "sma", "params": [1])";
  for (int i = 0; i < 2000; ++i) text += ", \"u" + std::to_string(i) + "\": 1";
  text += R"(}}, "entry": {"in_position": true}, "exit": {"in_position": false},)"
          R"( "sizing": {"type": "fixed_qty", "qty": 1}})";
  const LintReport report = lint_strategy(text, 1'000'000);
  std::size_t bytes = 0;
  for (const Problem& p : report.problems) bytes += p.path.size() + p.message.size();
  EXPECT_LE(bytes, (std::size_t{1} << 18) + 2 * text.size() + 20100);
  EXPECT_EQ(report.problems.size() + report.omitted_warnings, 2000u);
  EXPECT_GT(report.problems.size(), 10u);
}

TEST(ClosestName, BoundedWork) {
  const std::string_view names[] = {"sma_fast", "sma_slow", "rsi"};
  struct Case {
    std::string name;
    std::size_t budget;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"sma_fsat", 1000, "sma_fast"},
      {"SMA_SLOW_", 1000, "sma_slow"},
      {"sma_fsat", 20, std::nullopt},  // even "sa" against "as", past the shared "sma_f" and "t", needs more
      {"sma_fsat", 40, "sma_fast"},    // the shared letters are cheap: 40 pays for both close names
      {std::string(kLongestSuggestedName, 'r'), 1 << 20, std::nullopt},
      {std::string(kLongestSuggestedName + 1, 'r'), 1 << 20, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::size_t budget = c.budget;
    EXPECT_EQ(closest_name(c.name, names, &budget), c.expected);
  }
  // A name at the longest suggested length still gets one.
  const std::string long_name = std::string(kLongestSuggestedName - 1, 'a') + "b";
  const std::string_view candidate[] = {std::string_view(long_name).substr(0, kLongestSuggestedName - 1)};
  EXPECT_EQ(closest_name(long_name, candidate), std::string(kLongestSuggestedName - 1, 'a'));
}

// The reference: optimal string alignment distance over the whole names, the
// full table, letter case ignored.
std::size_t reference_distance(std::string_view a, std::string_view b) {
  auto fold = [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); };
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const bool same = fold(a[i - 1]) == fold(b[j - 1]);
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (same ? 0 : 1)});
      if (i > 1 && j > 1 && fold(a[i - 1]) == fold(b[j - 2]) && fold(a[i - 2]) == fold(b[j - 1])) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[a.size()][b.size()];
}

// The suggestion is the first candidate at the least distance within half the
// longer name, as the full table computes it: skipping the shared start and
// end, the band and the early exits change no choice. Names from a small
// alphabet share long starts and ends and swap neighbours often.
TEST(ClosestName, ChoosesAsTheFullTableDoes) {
  std::uint32_t seed = 12345;
  auto next = [&seed](std::uint32_t below) {
    seed = seed * 1664525u + 1013904223u;
    return (seed >> 8) % below;
  };
  auto word = [&next] {
    std::string w(1 + next(9), 'a');
    for (char& c : w) c = "abA_"[next(4)];
    return w;
  };
  for (int round = 0; round < 3000; ++round) {
    const std::string name = word();
    const std::string owned[] = {word(), word(), word(), name.substr(0, name.size() / 2) + word()};
    const std::string_view candidates[] = {owned[0], owned[1], owned[2], owned[3]};
    std::optional<std::string> expected;
    std::size_t best = 0;
    bool exact = false;
    for (std::string_view c : candidates) {
      exact = exact || c == name;
      const std::size_t d = reference_distance(name, c);
      if (d <= std::max<std::size_t>(1, std::max(name.size(), c.size()) / 2) && (!expected || d < best)) {
        expected = std::string(c);
        best = d;
      }
    }
    SCOPED_TRACE(name + " among " + owned[0] + " " + owned[1] + " " + owned[2] + " " + owned[3]);
    EXPECT_EQ(closest_name(name, candidates), exact ? std::nullopt : expected);
  }
}

// References to undeclared names, each close to hundreds of declared ones:
// suggestions stop once their share of the document's work is spent.
TEST(StrategyLint, SuggestionsForOneDocumentCostABoundedAmount) {
  std::string text = R"({"symbol": "X", "timeframe": "1h", "indicators": {)";
  for (int i = 0; i < 3000; ++i) {
    text += (i ? "," : "") + std::string("\"indicator_") + std::to_string(i) + R"(": {"type": "sma", "params": [1]})";
  }
  text += R"(}, "entry": {"all": [)";
  for (int i = 0; i < 3000; ++i) text += (i ? "," : "") + std::string(R"({"gt": ["indicator_)") + std::to_string(i) + "x\", 1]}";
  text += R"(]}, "exit": {"in_position": true}, "sizing": {"type": "fixed_qty", "qty": 1}})";
  const LintReport report = lint_strategy(text, 1'000'000);
  ASSERT_EQ(report.problems.size(), 3000u);
  EXPECT_EQ(report.problems.front().suggestion, "indicator_0");
  const auto suggested = std::count_if(report.problems.begin(), report.problems.end(),
                                       [](const Problem& p) { return p.suggestion.has_value(); });
  EXPECT_LT(suggested, 3000);
}

// Mutations of valid documents: the property that holds lint and the compile
// check together is checked on each.
class Mutator {
 public:
  explicit Mutator(std::uint32_t seed) : random_(seed) {}

  std::size_t pick(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random_); }

  Value scalar() {
    static constexpr std::string_view kWords[] = {
        "type", "fixed_fraction", "vol_target", "spread", "close", "gt", "all", "price", "prev",
        "kline", "market", "rsi", "sma_fast", "x", "symbol", "maker_bps", "next_open", "fixed_bps"};
    switch (pick(9)) {
      case 0: return Value();
      case 1: return Value::boolean(pick(2) == 1);
      case 2: return Value::unsigned_integer(pick(3) == 0 ? 4294967296u : pick(100));
      case 3: return Value::signed_integer(-1);
      case 4: return Value::floating(0.5);
      case 5: return Value::array();
      case 6: return Value::object();
      default: return Value::string(kWords[pick(std::size(kWords))]);
    }
  }

  // Replaces, drops, renames, wraps or extends one value of `root`.
  void mutate(Value& root) {
    std::vector<Value*> nodes;
    collect(root, nodes);
    Value& v = *nodes[pick(nodes.size())];
    switch (pick(6)) {
      case 0: v = scalar(); return;
      case 1: {  // a copy of any value of the document, made through its text
        std::string text;
        json::write_compact(text, *nodes[pick(nodes.size())]);
        v = json::parse_document(text).value();
        return;
      }
      case 2: {
        Value inner = std::move(v);
        v = Value::array();
        v.as_array().push_back(std::move(inner));
        return;
      }
      default: break;
    }
    if (v.is_array()) {
      if (!v.as_array().empty() && pick(2) == 0) {
        v.as_array().erase(v.as_array().begin() + static_cast<std::ptrdiff_t>(pick(v.as_array().size())));
      } else {
        v.as_array().push_back(scalar());
      }
    } else if (v.is_object()) {
      auto& members = v.as_object().members();
      if (!members.empty() && pick(2) == 0) {
        members.erase(members.begin() + static_cast<std::ptrdiff_t>(pick(members.size())));
      } else if (!members.empty() && pick(2) == 0) {
        members[pick(members.size())].key = scalar().is_string() ? "warm_up" : "type";  // may repeat a key
      } else {
        members.push_back(json::Member{"gt", scalar()});
      }
    } else {
      v = scalar();
    }
  }

 private:
  static void collect(Value& v, std::vector<Value*>& nodes) {
    nodes.push_back(&v);
    if (v.is_array()) {
      for (Value& item : v.as_array()) collect(item, nodes);
    } else if (v.is_object()) {
      for (json::Member& m : v.as_object().members()) collect(m.value, nodes);
    }
  }
  std::mt19937 random_;
};

TEST(StrategyLint, ErrorsExactlyWhenTheCompileCheckFailsFirstErrorItsReason) {
  std::vector<std::string> seeds;
  for (const char* name : {"ma_cross", "ma_cross_positional", "rsi_mean_reversion", "breakout_risk"}) {
    std::ifstream file(std::string(VELKOR_SOURCE_DIR) + "/examples/" + name + ".json");
    std::stringstream text;
    text << file.rdbuf();
    seeds.push_back(text.str());
  }
  Mutator mutator(20261206);
  int rejected = 0;
  for (int i = 0; i < 10000; ++i) {
    Value doc = json::parse_document(seeds[mutator.pick(seeds.size())]).value();
    for (std::size_t n = 1 + mutator.pick(2); n > 0; --n) mutator.mutate(doc);
    std::string text;
    json::write_compact(text, doc);
    if (i % 50 == 0) text.resize(mutator.pick(text.size()));  // now and then not JSON at all
    std::optional<std::string> reason;
    auto value = json::parse_document(text, json::Reader::Depth::kLimited, json::kRequestDepthLimit - 2);
    if (!value) {
      reason = value.error().description;
    } else if (auto valid = validate_strategy(*value); !valid) {
      reason = valid.error();
    }
    const std::vector<Problem> problems = lint_strategy(text).problems;
    auto first_error = std::find_if(problems.begin(), problems.end(),
                                    [](const Problem& p) { return p.severity == Severity::kError; });
    SCOPED_TRACE(text);
    ASSERT_EQ(first_error != problems.end(), reason.has_value());
    if (reason) {
      ASSERT_EQ(first_error->message, *reason);
      ++rejected;
    }
    for (const Problem& p : problems) {
      ASSERT_GE(p.column, 1u);
      // A code of the problem's class, and plain words free of the implementation's type names.
      ASSERT_TRUE(p.code.size() == 5 && p.code.starts_with("VK") && std::isdigit(p.code[2]) &&
                  std::isdigit(p.code[3]) && std::isdigit(p.code[4])) << p.code;
      ASSERT_EQ(p.code[2] == '0', p.severity == Severity::kError) << p.code;
      ASSERT_NE(p.code, "VK099") << p.message;
      ASSERT_FALSE(p.plain.empty());
      for (std::string_view word : {"struct", "f64", "u32", "u64", "newtype", "tagged", "variant", "single key",
                                    "sequence", "EOF", "tuple"}) {
        ASSERT_EQ(p.plain.find(word), std::string::npos) << p.plain;
      }
    }
  }
  EXPECT_GT(rejected, 5000);
  EXPECT_LT(rejected, 11000);
}

}  // namespace
}  // namespace velkor::strategy
