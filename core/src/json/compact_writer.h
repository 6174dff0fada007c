// The compact JSON text of a scalar value: the one string escaping and number
// forms of every text the system writes. The canonical writer (canonical/)
// writes containers around it.
#ifndef VELKOR_JSON_COMPACT_WRITER_H_
#define VELKOR_JSON_COMPACT_WRITER_H_

#include <string>

#include "json/value.h"

namespace velkor::json {

// Appends a null, bool, number or string; requires a non-container `value`.
// Integers in decimal, doubles by `append_double` with `+` on positive
// exponents, strings by `append_json_string`.
void append_scalar(std::string& out, const Value& value);

}  // namespace velkor::json

#endif  // VELKOR_JSON_COMPACT_WRITER_H_
