#include "strategy/rule_codes.h"

#include <charconv>
#include <cstdint>
#include <utility>

#include "json/number_text.h"
#include "strategy/condition.h"

namespace velkor::strategy::rule {
namespace {

struct Words {
  std::string_view type;  // as the compile check's message writes it
  std::string_view plain;
};

// What the compile check expects, in JSON words. A record also reads as an
// array of its fields in order; a type-tagged choice is an object whose
// "type" member names the kind.
constexpr Words kExpected[] = {
    {"u32", "a whole number from 0 to 4294967295"},
    {"u64", "a whole number of 0 or more"},
    {"f64", "a number"},
    {"a string", "text"},
    {"a boolean", "true or false"},
    {"a sequence", "an array"},
    {"a map", "an object"},
    {"variant identifier", "text naming the kind"},
    {"string or map", "a name, as text or as an object with one member"},
    {"unit", "null"},
    {"newtype variant", "an object with one member holding the form's value"},
    {"a tuple of size 2", "an array of 2 elements"},
    {"a tuple of size 3", "an array of 3 elements"},
};

std::string plain_expected(std::string_view expected) {
  for (const Words& w : kExpected) {
    if (w.type == expected) return std::string(w.plain);
  }
  if (expected.starts_with("internally tagged enum ")) return "an object with a \"type\" member naming the kind";
  if (expected.starts_with("struct ")) return "an object (or an array of its members in order)";
  return std::string(expected);
}

// `text` split at the last occurrence of `mark`: the rendered value before it
// may hold any text, the part after it never holds the mark.
std::pair<std::string_view, std::string_view> split_last(std::string_view text, std::string_view mark) {
  const std::size_t at = text.rfind(mark);
  if (at == std::string_view::npos) return {text, {}};
  return {text.substr(0, at), text.substr(at + mark.size())};
}

std::string_view between_backticks(std::string_view text) {
  const std::size_t open = text.find('`');
  const std::size_t close = text.rfind('`');
  if (open == std::string_view::npos || close <= open) return text;
  return text.substr(open + 1, close - open - 1);
}

// The leading count of "7 elements ...", or 0.
std::uint64_t leading_count(std::string_view text) {
  std::uint64_t n = 0;
  std::from_chars(text.data(), text.data() + text.size(), n);
  return n;
}

std::string plain_length(std::string_view count, std::string_view expected) {
  const std::string found = "found " + std::string(count);
  if (expected == "fewer elements in array") return "too many elements: the array has " + std::string(count);
  if (expected.starts_with("a tuple of size ")) return "expected " + plain_expected(expected) + ", " + found;
  if (expected.ends_with(" in sequence")) {
    return "too many elements: after the kind, expected " + std::string(split_last(expected, " in sequence").first) +
           ", " + found;
  }
  // A record written as an array, ending before a required member: the count
  // is that member's place, whatever the array's length.
  return "too few elements: element " + std::to_string(leading_count(count) + 1) + " of the array is required";
}

// The JSON reader's descriptions of a text that is not JSON.
constexpr Words kSyntax[] = {
    {"EOF while parsing a value", "the text ends where a value should stand"},
    {"EOF while parsing a list", "the text ends inside an array: a closing `]` is missing"},
    {"EOF while parsing an object", "the text ends inside an object: a closing `}` is missing"},
    {"EOF while parsing a string", "the text ends inside a string: a closing `\"` is missing"},
    {"expected value", "a value (object, array, number, text, true, false or null) should stand here"},
    {"invalid number", "this is not a JSON number"},
    {"number out of range", "this number is too large for a JSON number"},
    {"trailing comma", "a comma before a closing bracket: JSON allows none there"},
    {"trailing characters", "more text follows the end of the JSON document"},
    {"key must be a string", "a member's name must be text in double quotes"},
    {"expected ident", "this is not a JSON word: only true, false and null are"},
    {"expected `,` or `]`", "a comma or the array's closing `]` should stand here"},
    {"expected `,` or `}`", "a comma or the object's closing `}` should stand here"},
    {"expected `:`", "a colon should follow the member's name"},
    {"recursion limit exceeded", "arrays and objects are nested too deeply"},
};

}  // namespace

std::string explain_syntax(std::string_view description) {
  for (const Words& w : kSyntax) {
    if (w.type == description) return std::string(w.plain);
  }
  return "the text is not valid JSON: " + std::string(description);
}

std::string plain_value(std::string_view unexpected) {
  if (unexpected == "map") return "an object";
  if (unexpected == "sequence") return "an array";
  if (unexpected == "null") return "null";
  if (unexpected.starts_with("string ")) return "the text " + std::string(unexpected.substr(7));
  if (unexpected.starts_with("integer `") || unexpected.starts_with("floating point `") ||
      unexpected.starts_with("boolean `")) {
    return std::string(between_backticks(unexpected));
  }
  return std::string(unexpected);
}

Explained explain_error(std::string_view message) {
  if (message.starts_with("missing field `")) {
    return {kMissingField, "the required member `" + std::string(between_backticks(message)) + "` is missing"};
  }
  if (message == "invalid type: unit variant, expected newtype variant") {
    return {kWrongType, "this form needs a value: write it as an object with one member, e.g. {\"gt\": [a, b]}"};
  }
  if (message.starts_with("invalid type: ")) {
    auto [found, expected] = split_last(message.substr(14), ", expected ");
    return {kWrongType, "expected " + plain_expected(expected) + ", found " + plain_value(found)};
  }
  if (message.starts_with("invalid value: ")) {
    auto [found, expected] = split_last(message.substr(15), ", expected ");
    if (expected == "map with a single key") {
      return {kNotOneMember, "expected an object with exactly one member, the name of the form; found an object "
                             "with none or several"};
    }
    return {kOutOfRange, "expected " + plain_expected(expected) + ", found " + plain_value(found)};
  }
  if (message.starts_with("invalid length ")) {
    auto [count, expected] = split_last(message.substr(15), ", expected ");
    return {kWrongLength, plain_length(count, expected)};
  }
  if (message.starts_with("unknown variant `")) {
    auto [name, expected] = split_last(message.substr(17), "`, expected ");
    return {kUnknownName, "`" + std::string(name) + "` is not a name this place takes; expected " +
                              std::string(expected)};
  }
  if (message == kNoMatchingOperand) {
    return {kBadOperand, "an operand is an indicator name (text), a number, or an expression object such as "
                         "{\"price\": \"close\"} or {\"mul\": [a, b]}"};
  }
  if (message == kRecursionLimit) return {kTooDeep, "conditions or operands are nested too deeply"};
  return {kOtherError, std::string(message)};
}

std::string number_words(double d) {
  std::string out;
  json::append_double(out, d, json::ExponentSign::kOmitPlus);
  if (out.ends_with(".0")) out.resize(out.size() - 2);
  return out;
}

}  // namespace velkor::strategy::rule
