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

// Checks UTF-8 that arrives in pieces which may cut a sequence in two.
class Utf8Stream {
 public:
  // False once anything fed so far is not well-formed UTF-8.
  bool feed(std::string_view piece);
  // Whether everything fed, taken as one text, is well-formed UTF-8.
  bool finish() const { return valid_ && pending_.empty(); }

 private:
  bool valid_ = true;
  std::string pending_;  // the start of a sequence cut by the end of a piece
};

// `bytes` decoded as UTF-8 with each maximal ill-formed subpart replaced by one
// U+FFFD, the replacement rule of the WHATWG encoding standard: a valid
// sequence's prefix cut short counts as one fault, any other bad byte as one.
std::string decode_utf8_lossy(std::string_view bytes);

}  // namespace velkor

#endif  // VELKOR_SUPPORT_UTF8_TEXT_H_
