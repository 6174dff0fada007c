#include "support/utf8_text.h"

#include <gtest/gtest.h>

#include <string>

namespace velkor {
namespace {

#define FFFD "\xEF\xBF\xBD"

struct Utf8Case {
  const char* name;
  std::string bytes;
  std::string lossy;
};

// Each row pairs a byte sequence with its replacement-decoded text; the text is
// valid exactly when decoding leaves it unchanged.
TEST(Utf8Text, MaximalSubpartReplacement) {
  const Utf8Case cases[] = {
      {"ascii", "abc", "abc"},
      {"two byte", "\xC3\xA4", "\xC3\xA4"},
      {"four byte", "\xF0\x9D\x84\x9E", "\xF0\x9D\x84\x9E"},
      {"max scalar", "\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},
      {"lone continuation", "a\x80z", "a" FFFD "z"},
      {"two continuations are two faults", "\x80\xBF", FFFD FFFD},
      {"overlong lead C0", "\xC0\xAF", FFFD FFFD},
      {"overlong three byte", "\xE0\x80\x80", FFFD FFFD FFFD},
      {"surrogate", "\xED\xA0\x80", FFFD FFFD FFFD},
      {"above max", "\xF4\x90\x80\x80", FFFD FFFD FFFD FFFD},
      {"F5 lead", "\xF5\x80", FFFD FFFD},
      {"truncated four byte is one fault", "\xF0\x9D\x84z", FFFD "z"},
      {"truncated at end", "a\xF0\x9D\x84", "a" FFFD},
      {"lead then lead", "\xE2\xE2\x82\xAC", FFFD "\xE2\x82\xAC"},
      {"two byte cut by ascii", "\xC3" "a", FFFD "a"},
      {"nul is valid", std::string("a\0b", 3), std::string("a\0b", 3)},
  };
  for (const Utf8Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(decode_utf8_lossy(c.bytes), c.lossy);
    EXPECT_EQ(is_valid_utf8(c.bytes), c.bytes == c.lossy);
    // Fed in pieces cut anywhere (one cut, and a byte at a time), the verdict is the same.
    const std::string text = "ab" + c.bytes + "\xE2\x82\xAC" + c.bytes;
    for (std::size_t cut = 0; cut <= text.size(); ++cut) {
      Utf8Stream two, bytes;
      two.feed(text.substr(0, cut));
      two.feed(text.substr(cut));
      for (std::size_t i = 0; i < cut; ++i) bytes.feed(text.substr(i, 1));
      bytes.feed(text.substr(cut));
      EXPECT_EQ(two.finish(), is_valid_utf8(text)) << cut;
      EXPECT_EQ(bytes.finish(), is_valid_utf8(text)) << cut;
    }
  }
}

}  // namespace
}  // namespace velkor
