#include "json/key_order.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velkor::json {
namespace {

// The law the sorts rely on: prefix order never contradicts byte order, and
// equal keys have equal prefixes. Keys around the 8-byte boundary, with NUL
// and high bytes, where a padded or signed comparison would go wrong.
TEST(KeyOrder, PrefixOrderAgreesWithByteOrder) {
  const std::vector<std::string> keys = {
      "", std::string(1, '\0'), "a", std::string("a\0", 2), "a\x01", "ab", "abcdefg", "abcdefgh",
      std::string("abcdefgh\0", 9), "abcdefghi", "abcdefgi", "\x7f", "\x80", "\xc3\xa4", std::string(9, '\xff'),
  };
  for (const std::string& a : keys) {
    for (const std::string& b : keys) {
      const std::uint64_t pa = key_prefix(a);
      const std::uint64_t pb = key_prefix(b);
      if (pa < pb) EXPECT_LT(a, b) << testing::PrintToString(a) << " " << testing::PrintToString(b);
      if (a == b) EXPECT_EQ(pa, pb);
    }
  }
  EXPECT_LT(key_prefix("abcdefgh"), key_prefix("abcdefgi"));
  EXPECT_LT(key_prefix("a"), key_prefix("\x80"));
}

}  // namespace
}  // namespace velkor::json
