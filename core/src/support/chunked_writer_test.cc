#include "support/chunked_writer.h"

#include <gtest/gtest.h>

#include <string>

namespace velkor {
namespace {

// Pieces as the spec hash feeds them: small ones, and one text larger than a chunk.
TEST(ChunkedWriter, ChunksConcatenateToTheText) {
  std::string text;
  for (int i = 0; i < 3000; ++i) text += std::to_string(i) + ",";
  for (const std::size_t chunk_size : {std::size_t{1}, std::size_t{7}, std::size_t{4096}, std::size_t{1} << 20}) {
    std::string streamed;
    ChunkedWriter writer([&](std::string_view chunk) { streamed.append(chunk.empty() ? "<empty>" : chunk); },
                         chunk_size);
    for (std::size_t at = 0; at < text.size(); at += 100) writer.write_text(std::string_view(text).substr(at, 100));
    writer.write_text(text);
    writer.flush();
    EXPECT_EQ(streamed, text + text) << chunk_size;
  }
}

}  // namespace
}  // namespace velkor
