// The canonical JSON text of a value: compact, objects written with their keys
// in ascending byte order of the UTF-8 encodings (unsigned bytes; a key before
// every longer key it is a prefix of) at every depth, arrays in their own order,
// the string escaping and number forms of every text the system writes. Two
// values that differ only in the insertion order of object members give the
// same bytes. The text is the content of the generated spec.json and
// candles.json and the input of spec_hash.
//
// Writing never fails and never recurses: values of any depth are written with
// an explicit stack. Members are sorted by reference while writing; the value
// is neither copied nor changed.
#ifndef VELKOR_CANONICAL_CANONICAL_H_
#define VELKOR_CANONICAL_CANONICAL_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "json/value.h"

namespace velkor {

std::string canonical_json(const json::Value& value);
void append_canonical(std::string& out, const json::Value& value);

}  // namespace velkor

#endif  // VELKOR_CANONICAL_CANONICAL_H_
