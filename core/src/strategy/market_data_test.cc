#include "strategy/market_data.h"

#include <gtest/gtest.h>

#include <fstream>

#include "support/test_support_files.h"

namespace velkor::strategy {
namespace {

std::vector<std::string> lines_of(const DataReport& report) {
  std::vector<std::string> out;
  for (const Problem& p : report.problems) out.push_back(std::string(p.code) + " " + p.path + " " + p.message);
  if (report.omitted > 0) out.push_back("omitted " + std::to_string(report.omitted));
  return out;
}

TEST(MarketData, InlineCandles) {
  struct Case {
    std::string candles;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {R"([{"time":1,"open":10,"high":12,"low":9,"close":11,"volume":5},[2,11,13,10,12,7],[3,12,13,11,12]])", {}},
      {"[]", {"VK304 /embed_data/candles no candles: the candles array is empty"}},
      {R"([{"garbage":true},5,"x",[1,2,3],{"open":1,"high":2,"low":1,"close":"2"}])",
       {"VK301 /embed_data/candles/0 candle 0 is not a candle: `open` is missing",
        "VK301 /embed_data/candles/1 candle 1 is not a candle: neither an object nor an array",
        "VK301 /embed_data/candles/2 candle 2 is not a candle: neither an object nor an array",
        "VK301 /embed_data/candles/3 candle 3 is not a candle: an array of 3 elements",
        "VK301 /embed_data/candles/4 candle 4 is not a candle: `close` is not a number"}},
      {R"([[1,10,9,11,10],[2,10,12,9,13],[3,0,1,0,1],[4,10,12,9,11,-1],[4,10,12,9,11]])",
       {"VK302 /embed_data/candles/0 candle 0: high 9 is below low 11",
        "VK302 /embed_data/candles/1 candle 1: close 13 is outside low 9 .. high 12",
        "VK302 /embed_data/candles/2 candle 2: a price is 0 or below",
        "VK302 /embed_data/candles/3 candle 3: volume -1 is below 0",
        "VK305 /embed_data/candles/4 candle 4: time 4 is not after the one before"}},
      // Listed up to the cap, the rest counted.
      {"[1,1,1,1,1,1,1,1,1,1,1,1]", {"VK301 /embed_data/candles/0 candle 0 is not a candle: neither an object nor an array",
                                     "VK301 /embed_data/candles/1 candle 1 is not a candle: neither an object nor an array",
                                     "omitted 10"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.candles);
    EXPECT_EQ(lines_of(lint_inline_candles(c.candles, c.candles.starts_with("[1,1") ? 2 : 100)), c.expected);
  }
}

TEST(MarketData, CsvFiles) {
  TempDir dir;
  struct Case {
    std::string content;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"time,open,high,low,close,volume\n1,10,12,9,11,5\n2,11,13,10,12,6\n", {}},
      {"Date,Close,High,Low,Open\n2024-01-01,11,12,9,10\r\n", {}},
      {"1,10,12,9,11\n\n2,11,13,10,12\n", {}},
      {"a,b\n1,2\n", {"VK303 /embed_data/path `d.csv` line 1 has 2 fields, not a candle's"}},
      {"time,open,high,low\n", {"VK303 /embed_data/path `d.csv` line 1: the header names no `close` column"}},
      {"time,open,high,low,close\n1,10,12,9\n2,x,12,9,11\n3,10,8,9,11\n",
       {"VK303 /embed_data/path `d.csv` line 2 has 4 fields, not 5",
        "VK303 /embed_data/path `d.csv` line 3: open is not a number",
        "VK302 /embed_data/path `d.csv` line 4: high 8 is below low 9"}},
      {"open,high,low,close\n", {"VK304 /embed_data/path no candles: `d.csv` has no data lines"}},
  };
  const std::string path = dir.path() + "/d.csv";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.content);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << c.content;
    EXPECT_EQ(lines_of(lint_csv_candles("d.csv", path, 100)), c.expected);
  }
  // Only the start of a large file is read: a fault past it goes unseen.
  std::string large = "time,open,high,low,close\n";
  for (int t = 1; large.size() < kDataPrefixBytes + 10; ++t) large += std::to_string(t) + ",10,12,9,11\n";
  std::ofstream(path, std::ios::binary | std::ios::trunc) << large << "9999999,10,8,9,11\n";
  EXPECT_EQ(lines_of(lint_csv_candles("d.csv", path, 100)), std::vector<std::string>());
  const std::vector<std::string> missing = lines_of(lint_csv_candles("d.csv", dir.path() + "/none.csv", 100));
  ASSERT_EQ(missing.size(), 1u);
  EXPECT_TRUE(missing[0].starts_with("VK304 /embed_data/path no candles: reading d.csv: No such file")) << missing[0];
}

}  // namespace
}  // namespace velkor::strategy
