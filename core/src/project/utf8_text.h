// UTF-8 checks for bytes that come from outside the system: data files read
// from disk and the error output of child processes.
#ifndef VELKOR_PROJECT_UTF8_TEXT_H_
#define VELKOR_PROJECT_UTF8_TEXT_H_

#include <string>
#include <string_view>

namespace velkor::project {

// True when `bytes` is well-formed UTF-8 (no overlongs, no surrogates, nothing
// above U+10FFFF).
bool is_valid_utf8(std::string_view bytes);

// `bytes` decoded as UTF-8 with each maximal ill-formed subpart replaced by one
// U+FFFD, the replacement rule of the WHATWG encoding standard: a valid
// sequence's prefix cut short counts as one fault, any other bad byte as one.
std::string decode_utf8_lossy(std::string_view bytes);

}  // namespace velkor::project

#endif  // VELKOR_PROJECT_UTF8_TEXT_H_
