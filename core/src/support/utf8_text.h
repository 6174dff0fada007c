// UTF-8 checks for bytes that come from outside the system: request texts,
// data files read from disk and the error output of child processes.
#ifndef VELKOR_SUPPORT_UTF8_TEXT_H_
#define VELKOR_SUPPORT_UTF8_TEXT_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace velkor {

// Length of the well-formed UTF-8 sequence starting at `bytes[at]`, or, when it
// is not well-formed (overlongs, surrogates, beyond U+10FFFF, cut short), the
// negated length of its maximal ill-formed subpart (at least 1).
int utf8_sequence_length(std::string_view bytes, std::size_t at);

// True when `bytes` is well-formed UTF-8 (no overlongs, no surrogates, nothing
// above U+10FFFF).
bool is_valid_utf8(std::string_view bytes);

// `bytes` decoded as UTF-8 with each maximal ill-formed subpart replaced by one
// U+FFFD, the replacement rule of the WHATWG encoding standard: a valid
// sequence's prefix cut short counts as one fault, any other bad byte as one.
std::string decode_utf8_lossy(std::string_view bytes);

}  // namespace velkor

#endif  // VELKOR_SUPPORT_UTF8_TEXT_H_
