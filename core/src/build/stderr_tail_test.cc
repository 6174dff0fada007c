#include "build/stderr_tail.h"

#include <gtest/gtest.h>

#include <string>

namespace velkor::build {
namespace {

#define FFFD "\xEF\xBF\xBD"

TEST(StderrTail, CutsAtCharacterBoundary) {
  const std::string euro = "\xE2\x82\xAC";  // three bytes
  struct Case {
    const char* name;
    std::string raw;
    std::size_t limit;
    std::string expected;
  } const cases[] = {
      {"short passes whole", "error: x\n", 2000, "error: x\n"},
      {"empty", "", 2000, ""},
      {"exactly the limit", std::string(2000, 'e'), 2000, std::string(2000, 'e')},
      {"one over drops the first byte", "a" + std::string(2000, 'e'), 2000, std::string(2000, 'e')},
      // The plain cut would land inside the euro sign: move forward past it.
      {"cut inside a character", "ab" + euro + "xyz", 4, "xyz"},
      {"cut on a lead byte keeps the character", "ab" + euro + "xyz", 6, euro + "xyz"},
      // Invalid bytes become U+FFFD (three bytes) before the length is measured.
      {"replacement counts as decoded bytes", "\xFF\xFF", 3, FFFD},
      {"replacement cut", "\xFF" "ab", 4, "ab"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(stderr_tail(c.raw, c.limit), c.expected);
  }  // cargo's messages keep the documented 2000 bytes by default.
  EXPECT_EQ(stderr_tail("a" + std::string(2000, 'e')), std::string(2000, 'e'));
}

// The driver keeps only the last kStderrRawKeep raw bytes of a long stream;
// the tail computed from them must equal the tail of the whole stream, also
// when the kept part starts in the middle of a character or of a fault.
TEST(StderrTail, RawSuffixGivesSameTail) {
  const std::string pieces[] = {"a", "\xE2\x82\xAC", "\xF0\x9D\x84\x9E", "\xC3\xA4", "\xFF", "\xE2\x82", "\x80", "\n"};
  std::string raw;
  for (int i = 0; raw.size() < 3 * kStderrRawKeep; ++i) raw += pieces[(i * 7 + i / 3) % std::size(pieces)];
  for (std::size_t shift = 0; shift < 8; ++shift) {
    std::string whole = raw.substr(0, raw.size() - shift);
    std::string kept = whole.substr(whole.size() - kStderrRawKeep);
    for (std::size_t drop = 0; drop < 5; ++drop) {
      SCOPED_TRACE(testing::Message() << "shift " << shift << " drop " << drop);
      EXPECT_EQ(stderr_tail(kept.substr(drop)), stderr_tail(whole));
    }
  }
  EXPECT_LE(stderr_tail(raw).size(), kStderrTailBytes);
}

}  // namespace
}  // namespace velkor::build
