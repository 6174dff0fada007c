// The stable codes of the diagnostics and the plain words people read beside
// a compile check's message. The message stays as tools compare it; the plain
// form speaks JSON (object, array, number, whole number, text, one of ...) and
// never names the implementation's types.
//
// Codes: VK0xx errors (the compile refuses the document), VK1xx warnings for
// values that pass the schema but are plainly wrong, VK2xx warnings about the
// document's structure, VK3xx warnings about market data.
#ifndef VELKOR_STRATEGY_RULE_CODES_H_
#define VELKOR_STRATEGY_RULE_CODES_H_

#include <string>
#include <string_view>

namespace velkor::strategy::rule {

// Errors, one code a kind of compile-check failure.
inline constexpr std::string_view kNotJson = "VK001";
inline constexpr std::string_view kMissingField = "VK002";
inline constexpr std::string_view kWrongType = "VK003";
inline constexpr std::string_view kOutOfRange = "VK004";
inline constexpr std::string_view kUnknownName = "VK005";
inline constexpr std::string_view kWrongLength = "VK006";
inline constexpr std::string_view kNotOneMember = "VK007";
inline constexpr std::string_view kBadOperand = "VK008";
inline constexpr std::string_view kTooDeep = "VK009";
inline constexpr std::string_view kOtherError = "VK099";

// Values that pass the schema but are plainly wrong.
inline constexpr std::string_view kFractionRange = "VK101";
inline constexpr std::string_view kLeverage = "VK102";
inline constexpr std::string_view kPeriod = "VK103";
inline constexpr std::string_view kEmptyList = "VK104";
inline constexpr std::string_view kShortWarmup = "VK105";
inline constexpr std::string_view kTimeframe = "VK106";
inline constexpr std::string_view kCostRange = "VK107";
inline constexpr std::string_view kEmptyRange = "VK108";
inline constexpr std::string_view kNonPositiveSize = "VK109";

// The document's structure.
inline constexpr std::string_view kUnknownField = "VK201";
inline constexpr std::string_view kRepeatedKey = "VK202";
inline constexpr std::string_view kUndeclaredIndicator = "VK203";

// Market data.
inline constexpr std::string_view kNotCandle = "VK301";
inline constexpr std::string_view kBadPrices = "VK302";
inline constexpr std::string_view kCsvShape = "VK303";
inline constexpr std::string_view kNoCandles = "VK304";
inline constexpr std::string_view kTimeOrder = "VK305";

struct Explained {
  std::string_view code;
  std::string plain;
};

// The code and plain words of a compile check's failure message.
Explained explain_error(std::string_view message);

// The plain words of a JSON reading fault (its description, e.g. "trailing comma").
std::string explain_syntax(std::string_view description);

// The plain words of a value the messages render ("integer `7`", "map", ...).
std::string plain_value(std::string_view unexpected);

// A number as a message shows it: its shortest form, a whole number without ".0".
std::string number_words(double d);

}  // namespace velkor::strategy::rule

#endif  // VELKOR_STRATEGY_RULE_CODES_H_
