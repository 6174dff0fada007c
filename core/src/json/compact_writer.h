// The compact JSON text of a value in its own member order: no whitespace, the
// one string escaping and number forms of every text the system writes. Used
// for response documents and values they echo; canonical texts sort keys and
// live in canonical/.
#ifndef VELKOR_JSON_COMPACT_WRITER_H_
#define VELKOR_JSON_COMPACT_WRITER_H_

#include <string>

#include "json/value.h"

namespace velkor::json {

// Appends the compact text of `value`, objects in insertion order. Iterative:
// any nesting depth is written without growing the call stack. Never fails.
void write_compact(std::string& out, const Value& value);

// Appends a null, bool, number or string; requires a non-container `value`.
// Integers in decimal, doubles by `append_double` with `+` on positive
// exponents, strings by `append_json_string`.
void append_scalar(std::string& out, const Value& value);

}  // namespace velkor::json

#endif  // VELKOR_JSON_COMPACT_WRITER_H_
