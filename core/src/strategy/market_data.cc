#include "strategy/market_data.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <optional>
#include <string_view>

#include "json/number_text.h"
#include "json/reader.h"
#include "strategy/rule_codes.h"
#include "support/os_error.h"
#include "support/whole_file.h"

namespace velkor::strategy {
namespace {

using json::Value;

constexpr std::string_view kShape =
    "a candle is an object with the numbers \"open\", \"high\", \"low\" and \"close\" (\"volume\" and a time "
    "optional), or an array [time, open, high, low, close, volume]";

struct Bar {
  double open, high, low, close;
  std::optional<double> volume;
  std::optional<double> time;
};

std::optional<double> number_of(const Value* v) {
  if (v == nullptr || !v->is_number()) return std::nullopt;
  return v->to_double();
}

std::optional<double> number_in(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '"')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '"' || text.back() == '\r')) text.remove_suffix(1);
  double d = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), d);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return d;
}

// What makes an inline value no candle, or its bar.
std::expected<Bar, std::string> candle_of(const Value& v) {
  constexpr std::string_view kPrices[] = {"open", "high", "low", "close"};
  double prices[4] = {};
  Bar bar{};
  if (v.is_object()) {
    const json::Object& o = v.as_object();
    for (std::size_t i = 0; i < 4; ++i) {
      const Value* price = o.find(kPrices[i]);
      if (price == nullptr) return std::unexpected("`" + std::string(kPrices[i]) + "` is missing");
      auto n = number_of(price);
      if (!n) return std::unexpected("`" + std::string(kPrices[i]) + "` is not a number");
      prices[i] = *n;
    }
    if (const Value* volume = o.find("volume"); volume != nullptr && !(bar.volume = number_of(volume))) {
      return std::unexpected("`volume` is not a number");
    }
    for (std::string_view key : {"time", "timestamp", "ts"}) {
      if (!bar.time) bar.time = number_of(o.find(key));
    }
  } else if (v.is_array() && (v.as_array().size() == 5 || v.as_array().size() == 6)) {
    const json::Array& a = v.as_array();
    for (std::size_t i = 0; i < 4; ++i) {
      auto n = number_of(&a[i + 1]);
      if (!n) return std::unexpected("element " + std::to_string(i + 2) + " (" + std::string(kPrices[i]) + ") is not a number");
      prices[i] = *n;
    }
    if (a.size() == 6 && !(bar.volume = number_of(&a[5]))) return std::unexpected("element 6 (volume) is not a number");
    bar.time = number_of(&a[0]);
  } else {
    return std::unexpected(std::string(v.is_array() ? "an array of " + std::to_string(v.as_array().size()) +
                                                          " elements"
                                                    : "neither an object nor an array"));
  }
  bar.open = prices[0], bar.high = prices[1], bar.low = prices[2], bar.close = prices[3];
  return bar;
}

// What is wrong with a bar's numbers, or nothing.
std::optional<std::string> price_fault(const Bar& b) {
  if (std::min({b.open, b.high, b.low, b.close}) <= 0) return "a price is 0 or below";
  if (b.high < b.low) return "high " + rule::number_words(b.high) + " is below low " + rule::number_words(b.low);
  for (double p : {b.open, b.close}) {
    if (p < b.low || p > b.high) {
      return (p == b.open ? "open " : "close ") + rule::number_words(p) + " is outside low " + rule::number_words(b.low) +
             " .. high " + rule::number_words(b.high);
    }
  }
  if (b.volume && *b.volume < 0) return "volume " + rule::number_words(*b.volume) + " is below 0";
  return std::nullopt;
}

class DataLinter {
 public:
  DataLinter(std::string path, std::size_t max_listed)
      : path_(std::move(path)), max_listed_(std::min(max_listed, kMaxDataProblems)) {}

  void warn(std::string_view code, std::string message, std::string plain, std::string path = {}) {
    if (report_.problems.size() >= max_listed_) {
      ++report_.omitted;
      return;
    }
    report_.problems.push_back(Problem{Severity::kWarning, code, path.empty() ? path_ : std::move(path), 1, 1,
                                       std::move(message), std::move(plain), std::nullopt});
  }

  // One bar at `where` ("candle 3", "`d.csv` line 7"): its prices and its time after the last.
  void bar(const Bar& b, const std::string& where, const std::string& path = {}) {
    if (auto fault = price_fault(b)) {
      warn(rule::kBadPrices, where + ": " + *fault,
           where + " has prices no market shows: " + *fault + "; prices are above 0 and low <= open, close <= high",
           path);
    }
    if (b.time && last_time_ && *b.time <= *last_time_) {
      warn(rule::kTimeOrder, where + ": time " + rule::number_words(*b.time) + " is not after the one before",
           where + " is out of order: candles come in increasing time", path);
    }
    if (b.time) last_time_ = b.time;
  }

  void inline_candles(std::string_view candles_json);
  void csv_file(const std::string& name, const std::string& on_disk);
  DataReport take() { return std::move(report_); }

 private:
  void csv_rows(const std::string& name, std::string_view text, bool whole);

  std::string path_;
  std::size_t max_listed_;
  DataReport report_;
  std::optional<double> last_time_;
};

void DataLinter::inline_candles(std::string_view candles_json) {
  auto candles = json::parse_document(candles_json, json::Reader::Depth::kUnlimited);
  if (!candles || !candles->is_array()) return;  // the request reader vouched for an array
  const json::Array& items = candles->as_array();
  if (items.empty()) {
    warn(rule::kNoCandles, "no candles: the candles array is empty", "the candles array holds no candle to test on");
  }
  for (std::size_t i = 0; i < items.size(); ++i) {
    const std::string path = path_ + "/" + std::to_string(i);
    const std::string where = "candle " + std::to_string(i);
    auto bar = candle_of(items[i]);
    if (!bar) {
      warn(rule::kNotCandle, where + " is not a candle: " + bar.error(),
           where + " is not a candle (" + bar.error() + "): " + std::string(kShape), path);
      continue;
    }
    this->bar(*bar, where, path);
  }
}

std::vector<std::string_view> fields_of(std::string_view line) {
  std::vector<std::string_view> fields;
  for (std::size_t start = 0;;) {
    const std::size_t comma = line.find(',', start);
    fields.push_back(line.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
    if (comma == std::string_view::npos) return fields;
    start = comma + 1;
  }
}

std::string column_name(std::string_view field) {
  std::string name;
  for (char c : field) {
    if (c != ' ' && c != '"' && c != '\r' && c != '\t') name.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  }
  return name;
}

// Where each column of a CSV file stands: open, high, low, close, volume, time.
struct Columns {
  static constexpr std::size_t kNone = std::size_t(-1);
  std::size_t at[6] = {1, 2, 3, 4, kNone, 0};
  std::size_t count = 0;
};
constexpr std::string_view kColumnNames[] = {"open", "high", "low", "close", "volume", "time"};

// The columns a header names, or the first it lacks.
std::expected<Columns, std::string_view> header_columns(const std::vector<std::string_view>& fields) {
  Columns columns;
  std::fill(std::begin(columns.at), std::end(columns.at), Columns::kNone);
  columns.count = fields.size();
  for (std::size_t i = 0; i < fields.size(); ++i) {
    std::string name = column_name(fields[i]);
    if (name == "timestamp" || name == "ts" || name == "date" || name == "datetime") name = "time";
    for (std::size_t k = 0; k < 6; ++k) {
      if (name == kColumnNames[k] && columns.at[k] == Columns::kNone) columns.at[k] = i;
    }
  }
  for (std::size_t k = 0; k < 4; ++k) {
    if (columns.at[k] == Columns::kNone) return std::unexpected(kColumnNames[k]);
  }
  return columns;
}

bool names_a_price(const std::vector<std::string_view>& fields) {
  return std::ranges::any_of(fields, [](std::string_view f) {
    const std::string name = column_name(f);
    return name == "open" || name == "high" || name == "low" || name == "close";
  });
}

}  // namespace

void DataLinter::csv_file(const std::string& name, const std::string& on_disk) {
  auto text = read_file_prefix(on_disk, kDataPrefixBytes);
  if (!text) {
    warn(rule::kNoCandles, "no candles: reading " + name + ": " + text.error(),
         "the data file `" + name + "` cannot be read: " + text.error());
    return;
  }
  csv_rows(name, text->text, text->whole);
}

void DataLinter::csv_rows(const std::string& name, std::string_view text, bool whole) {
  if (!whole) text = text.substr(0, text.rfind('\n') + 1);  // complete lines only
  std::optional<Columns> columns;
  std::size_t rows = 0;
  std::size_t line_number = 0;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    const std::string_view line = text.substr(start, end - start);
    start = end + 1;
    ++line_number;
    if (column_name(line).empty()) continue;
    const std::vector<std::string_view> fields = fields_of(line);
    const std::string where = "`" + name + "` line " + std::to_string(line_number);
    if (!columns) {
      if (names_a_price(fields)) {
        auto named = header_columns(fields);
        if (!named) {
          warn(rule::kCsvShape, where + ": the header names no `" + std::string(named.error()) + "` column",
               "the header of `" + name + "` must name the columns open, high, low and close");
          return;
        }
        columns = *named;
        continue;
      }
      if (fields.size() < 5) {
        warn(rule::kCsvShape, where + " has " + std::to_string(fields.size()) + " fields, not a candle's",
             "without a header, each line of `" + name + "` holds time, open, high, low, close and volume");
        return;
      }
      columns = Columns{};
      columns->count = fields.size();
      if (fields.size() > 5) columns->at[4] = 5;
    }
    if (fields.size() != columns->count) {
      warn(rule::kCsvShape, where + " has " + std::to_string(fields.size()) + " fields, not " +
                                std::to_string(columns->count),
           "each line of `" + name + "` should hold as many fields as the first");
      continue;
    }
    ++rows;
    std::optional<double> values[6];
    bool numbers = true;
    for (std::size_t k = 0; k < 6 && numbers; ++k) {
      if (columns->at[k] == Columns::kNone) continue;
      values[k] = number_in(fields[columns->at[k]]);
      if (!values[k] && k < 5) {
        warn(rule::kCsvShape, where + ": " + std::string(kColumnNames[k]) + " is not a number",
             "the " + std::string(kColumnNames[k]) + " column of `" + name + "` holds numbers");
        numbers = false;
      }
    }
    if (numbers) bar(Bar{*values[0], *values[1], *values[2], *values[3], values[4], values[5]}, where);
  }
  if (rows == 0 && columns) {
    warn(rule::kNoCandles, "no candles: `" + name + "` has no data lines", "the data file `" + name + "` holds no candle");
  }
}

DataReport lint_csv_candles(const std::string& name, const std::string& csv_path, std::size_t max_listed) {
  DataLinter linter("/embed_data/path", max_listed);
  linter.csv_file(name, csv_path);
  return linter.take();
}

DataReport lint_inline_candles(std::string_view candles_json, std::size_t max_listed) {
  DataLinter linter("/embed_data/candles", max_listed);
  linter.inline_candles(candles_json);
  return linter.take();
}

}  // namespace velkor::strategy
