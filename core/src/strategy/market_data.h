// Warnings about the market data a compile would embed: inline candles, or a
// CSV file, that do not look like candles. The compile embeds any data as it
// is; these rules only tell the author (codes VK3xx, strategy/rule_codes.h).
//
// A candle is a JSON object with the numbers "open", "high", "low" and
// "close" and, optionally, "volume" (a number of 0 or more) and a time
// ("time", "timestamp" or "ts"); or an array [time, open, high, low, close]
// or [time, open, high, low, close, volume]. Its prices are above 0 and low <=
// open, close <= high. Candles with numeric times come in increasing time.
// A CSV file holds one candle a line: a header line naming the columns open,
// high, low and close (volume and time optional, any order, any letter case)
// or no header and the columns time, open, high, low, close[, volume].
#ifndef VELKOR_STRATEGY_MARKET_DATA_H_
#define VELKOR_STRATEGY_MARKET_DATA_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "strategy/lint.h"

namespace velkor::strategy {

// How much of a CSV file is looked at: a large file is judged by its start.
inline constexpr std::size_t kDataPrefixBytes = std::size_t{1} << 20;
// Data warnings listed at most; the rest are counted.
inline constexpr std::size_t kMaxDataProblems = 10;

struct DataReport {
  std::vector<Problem> problems;  // warnings, at line 1 column 1; the path names the data
  std::size_t omitted = 0;
};

// The warnings about a CSV data file, named `name` as the request names it and
// read at `csv_path` (that name resolved as the compile resolves it), at most
// kDataPrefixBytes of it. At most `max_listed` (and kMaxDataProblems) are
// listed.
DataReport lint_csv_candles(const std::string& name, const std::string& csv_path, std::size_t max_listed);

// The warnings about inline candles, given as their canonical text.
DataReport lint_inline_candles(std::string_view candles_json, std::size_t max_listed);

}  // namespace velkor::strategy

#endif  // VELKOR_STRATEGY_MARKET_DATA_H_
