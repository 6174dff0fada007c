// Gathering small pieces of text into chunks for a sink, so that a text
// written in many short pieces (punctuation, names, values) reaches a digest
// in a few large updates.
#ifndef VELKOR_SUPPORT_CHUNKED_WRITER_H_
#define VELKOR_SUPPORT_CHUNKED_WRITER_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "support/text_sink.h"

namespace velkor {

// Writes pieces of text into a sink in chunks of about `chunk_size` bytes, so
// that a large text can be hashed while it is assembled without ever being
// held whole. The chunks, concatenated, are exactly the text written once
// `flush()` has handed over the rest; the sink never sees an empty chunk.
class ChunkedWriter {
 public:
  static constexpr std::size_t kDefaultChunkSize = 64 * 1024;

  explicit ChunkedWriter(TextSink sink, std::size_t chunk_size = kDefaultChunkSize);
  ChunkedWriter(const ChunkedWriter&) = delete;
  ChunkedWriter& operator=(const ChunkedWriter&) = delete;

  // Appends `text` unchanged.
  void write_text(std::string_view text);
  // Hands everything buffered to the sink. Call once the text is complete.
  void flush();

 private:
  TextSink sink_;
  std::size_t chunk_size_;
  std::string buffer_;
};

}  // namespace velkor

#endif  // VELKOR_SUPPORT_CHUNKED_WRITER_H_
