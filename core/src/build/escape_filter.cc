#include "build/escape_filter.h"

namespace velkor::build {

namespace {
constexpr char kEsc = '\x1b';
constexpr char kBel = '\x07';
}  // namespace

void EscapeFilter::append_plain(std::string_view piece, std::string& out) {
  for (const char c : piece) {
    const auto byte = static_cast<unsigned char>(c);
    switch (state_) {
      case State::kText:
        if (c == kEsc) {
          state_ = State::kEscape;
        } else {
          out.push_back(c);
        }
        break;
      case State::kEscape:
        // ESC [ opens a control sequence, ESC ] a command; otherwise
        // intermediate bytes (space../, as in ESC ( B) run up to a final byte
        // in 0..~. Any other byte (a newline, say) shows the ESC was stray:
        // the escape is dropped and the byte kept, unless it is another ESC.
        if (byte >= 0x20 && byte <= 0x2f) break;
        if (byte < 0x30 || byte > 0x7e) {
          if (c == kEsc) break;
          out.push_back(c);
        }
        state_ = c == '[' ? State::kControl : c == ']' ? State::kCommand : State::kText;
        break;
      case State::kControl:
        // Parameter and intermediate bytes run up to a final byte in @..~.
        if (byte >= 0x40 && byte <= 0x7e) state_ = State::kText;
        break;
      case State::kCommand:
        // BEL ends it; ESC does too, starting the escape that is its usual
        // terminator (ESC \, itself dropped as a two-byte escape).
        if (c == kBel) state_ = State::kText;
        if (c == kEsc) state_ = State::kEscape;
        break;
    }
  }
}

}  // namespace velkor::build
