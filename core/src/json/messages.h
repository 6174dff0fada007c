// The message forms shared by every typed reading of JSON: the request reader
// (which adds a line and column) and the strategy check (which does not).
#ifndef VELKOR_JSON_MESSAGES_H_
#define VELKOR_JSON_MESSAGES_H_

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

#include "json/value.h"

namespace velkor::json {

// Text in debug form: double-quoted, with `"` `\` newline, carriage return, tab
// and NUL as `\"` `\\` `\n` `\r` `\t` `\0`, other control characters
// (U+0000-U+001F, U+007F-U+009F) as `\u{1f}`, everything else as it is.
void append_debug_string(std::string& out, std::string_view text);
std::string debug_string(std::string_view text);

// Renderings of an offending value for "invalid type: {unexpected}, ...".
std::string unexpected_value(const Value& v);       // any value
std::string unexpected_string(std::string_view s);  // string "..."
std::string unexpected_unsigned(std::uint64_t u);   // integer `7`
std::string unexpected_signed(std::int64_t i);      // integer `-3`
std::string unexpected_double(double d);            // floating point `2.0`
inline constexpr std::string_view kUnexpectedNull = "null";
inline constexpr std::string_view kUnexpectedSequence = "sequence";
inline constexpr std::string_view kUnexpectedMap = "map";
std::string unexpected_bool(bool b);                // boolean `true`

// "invalid type: {unexpected}, expected {expected}"
std::string invalid_type(std::string_view unexpected, std::string_view expected);
// "invalid value: {unexpected}, expected {expected}"
std::string invalid_value(std::string_view unexpected, std::string_view expected);
// "invalid length {n}, expected {expected}"
std::string invalid_length(std::uint64_t n, std::string_view expected);
// "1 element", "14 elements": a record's length inside invalid_length's `expected`.
std::string element_count(std::size_t n);
// "missing field `{name}`" / "duplicate field `{name}`"
std::string missing_field(std::string_view name);
std::string duplicate_field(std::string_view name);
// "unknown variant `{name}`, expected {alternatives}"; the name inserted as it is.
std::string unknown_variant(std::string_view name, std::span<const std::string_view> names);
// `a`; `a` or `b`; one of `a`, `b`, `c`
std::string alternatives(std::span<const std::string_view> names);

}  // namespace velkor::json

#endif  // VELKOR_JSON_MESSAGES_H_
