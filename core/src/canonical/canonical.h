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

// Writes pieces of canonical text (punctuation, and texts already in canonical
// form) into a sink in chunks of about `chunk_size` bytes, so that a large text
// can be hashed while it is assembled without ever being held whole. The chunks,
// concatenated, are exactly the text written once `flush()` has handed over
// the rest; the sink never sees an empty chunk.
class CanonicalWriter {
 public:
  using Sink = std::function<void(std::string_view chunk)>;
  static constexpr std::size_t kDefaultChunkSize = 64 * 1024;

  explicit CanonicalWriter(Sink sink, std::size_t chunk_size = kDefaultChunkSize);
  CanonicalWriter(const CanonicalWriter&) = delete;
  CanonicalWriter& operator=(const CanonicalWriter&) = delete;

  // Appends `text` unchanged: punctuation, or a piece already in canonical form.
  void write_text(std::string_view text);
  // Hands everything buffered to the sink. Call once the text is complete.
  void flush();

 private:
  Sink sink_;
  std::size_t chunk_size_;
  std::string buffer_;
};

}  // namespace velkor

#endif  // VELKOR_CANONICAL_CANONICAL_H_
