// Text forms of JSON numbers shared by the canonical writer, the response
// writer and the rejection messages.
#ifndef VELKOR_JSON_NUMBER_TEXT_H_
#define VELKOR_JSON_NUMBER_TEXT_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace velkor::json {

enum class ExponentSign : bool { kOmitPlus, kWritePlus };

// Appends a double: shortest round-trip digits, positional for decimal
// exponents -5..15 (always with a fractional part: `100.0`, `0.0001`), otherwise
// `d.ddde+N` / `d.ddde-N`. Negative zero is `-0.0`. NaN and infinities, which
// JSON cannot express, are written `null`. `sign` chooses whether a
// positive exponent carries `+` (canonical text) or not (messages).
void append_double(std::string& out, double d, ExponentSign sign = ExponentSign::kWritePlus);

// Appends the number whose significand is `digits` (d1...dn, no leading or
// trailing zeros; empty for zero) times ten to `exponent` (the decimal exponent
// of d1), in the same layout as append_double. Used where the shortest digits
// are known without converting to a double.
void append_decimal(std::string& out, bool negative, std::string_view digits, int exponent,
                    ExponentSign sign = ExponentSign::kWritePlus);

void append_unsigned(std::string& out, std::uint64_t u);
void append_signed(std::string& out, std::int64_t i);

}  // namespace velkor::json

#endif  // VELKOR_JSON_NUMBER_TEXT_H_
