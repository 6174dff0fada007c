// Plain text from output written for a colour terminal.
#ifndef VELKOR_BUILD_ESCAPE_FILTER_H_
#define VELKOR_BUILD_ESCAPE_FILTER_H_

#include <string>
#include <string_view>

namespace velkor::build {

// Removes terminal escape sequences from a byte stream fed in pieces of any
// size (a sequence may be split between two pieces): control sequences
// (ESC [ ... final byte, colours among them), operating-system commands
// (ESC ] ... ended by BEL or ESC \, such as hyperlinks) and other escapes
// (ESC, intermediate bytes, a final byte: ESC ( B). An ESC followed by a
// byte that continues no escape is dropped alone, and that byte kept.
// Every other byte is kept, so text written without colour passes unchanged.
class EscapeFilter {
 public:
  // Appends the plain bytes of `piece` to `out`.
  void append_plain(std::string_view piece, std::string& out);

 private:
  enum class State { kText, kEscape, kControl, kCommand };
  State state_ = State::kText;
};

}  // namespace velkor::build

#endif  // VELKOR_BUILD_ESCAPE_FILTER_H_
