#include "support/chunked_writer.h"

#include <algorithm>
#include <utility>

namespace velkor {

ChunkedWriter::ChunkedWriter(TextSink sink, std::size_t chunk_size)
    : sink_(std::move(sink)), chunk_size_(std::max<std::size_t>(chunk_size, 1)) {
  // Most texts written so are short (the spec hash's text around a strategy
  // written whole); the buffer grows towards a chunk only for a long one.
  buffer_.reserve(std::min<std::size_t>(chunk_size_, 1024));
}

void ChunkedWriter::write_text(std::string_view text) {
  if (text.empty()) return;
  if (buffer_.size() + text.size() < chunk_size_) {
    buffer_.append(text);
    return;
  }
  // A large piece goes to the sink directly instead of through the buffer.
  flush();
  sink_(text);
}

void ChunkedWriter::flush() {
  if (buffer_.empty()) return;
  sink_(buffer_);
  buffer_.clear();
}

}  // namespace velkor
