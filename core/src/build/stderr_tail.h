// The part of a failed tool's error output that a build error carries.
#ifndef VELKOR_BUILD_STDERR_TAIL_H_
#define VELKOR_BUILD_STDERR_TAIL_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace velkor::build {

// At most this many bytes of the decoded error output are reported.
inline constexpr std::size_t kStderrTailBytes = 2000;

// How many raw bytes from the end of the stream suffice to compute the tail:
// decoding never shrinks text (each byte yields at least one byte), and a
// decoder that starts mid-character is back in step with one that started
// at the beginning within three bytes. Anything at least kStderrTailBytes + 3
// works; a round number with room to spare is used.
inline constexpr std::size_t kStderrRawKeep = 8192;

// `raw` decoded as UTF-8 (invalid sequences replaced by U+FFFD), then, when
// longer than `limit` bytes, only its end: the last `limit` bytes, with the
// cut moved forward to the next character boundary.
std::string stderr_tail(std::string_view raw, std::size_t limit = kStderrTailBytes);

}  // namespace velkor::build

#endif  // VELKOR_BUILD_STDERR_TAIL_H_
