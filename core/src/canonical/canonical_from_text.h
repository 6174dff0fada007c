// Canonical text straight from JSON text, for values that are needed only as
// canonical text (inline market data, which can be hundreds of megabytes).
//
// Reads one value with the reader's rules (same faults, positions and nesting
// limit as Reader::read_value) and appends exactly the text canonical_json
// would give for the value read_value would have built, without building it:
// arrays are written as they are read; each object's members are collected
// until its closing brace, then written in key order; numbers go from literal
// to canonical form without a round trip through binary when their shortest
// digits are evident from the literal.
#ifndef VELKOR_CANONICAL_CANONICAL_FROM_TEXT_H_
#define VELKOR_CANONICAL_CANONICAL_FROM_TEXT_H_

#include <string>

#include "json/reader.h"
#include "support/text_sink.h"

namespace velkor {

// With a `stream`, the text is handed to it in pieces of about 64 KiB as it is
// made instead of being kept: `out` only stages the next piece and is left
// empty. The pieces, concatenated, are the text `out` would have received;
// after a fault they are only a beginning of it.
json::ReadResult<void> append_canonical_from_text(json::Reader& reader, std::string& out,
                                                  const TextSink* stream = nullptr);

// The canonical text of one number literal (appended to `out`), or the
// reader's fault for a literal beyond the double range.
json::ReadResult<void> append_canonical_number(const json::Reader& reader, const json::NumberLiteral& number,
                                               std::string& out);

}  // namespace velkor

#endif  // VELKOR_CANONICAL_CANONICAL_FROM_TEXT_H_
