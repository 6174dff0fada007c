#include "json/number_text.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <utility>

namespace velkor::json {
namespace {

std::string double_text(double d) {
  std::string out;
  append_double(out, d, ExponentSign::kWritePlus);
  return out;
}

TEST(FloatForm, WritesTheCanonicalForm) {
  const std::pair<double, const char*> cases[] = {
      // zero and sign
      {0.0, "0.0"}, {-0.0, "-0.0"}, {-2.5, "-2.5"},
      // integral doubles keep a fractional part
      {1.0, "1.0"}, {100.0, "100.0"}, {1e15, "1000000000000000.0"},
      // upper notation boundary: exponent 16 switches to e+
      {1e16, "1e+16"}, {999999999999999.9, "999999999999999.9"}, {0.1 + 0.2, "0.30000000000000004"},
      // lower notation boundary: exponent -5 is positional, -6 is not
      {0.00001, "0.00001"}, {0.000012345, "0.000012345"}, {-0.000001, "-1e-6"},
      // extremes
      {5e-324, "5e-324"}, {1.7976931348623157e308, "1.7976931348623157e+308"},
      // no JSON form: never a broken text
      {std::numeric_limits<double>::quiet_NaN(), "null"}, {-std::numeric_limits<double>::infinity(), "null"},
  };
  for (const auto& [value, text] : cases) EXPECT_EQ(double_text(value), text);
}

// The significant digits of a number text: no sign, point, exponent, or
// leading and trailing zeros.
std::string significant(std::string_view text) {
  std::string digits;
  for (char c : text.substr(0, text.find('e'))) {
    if (c >= '0' && c <= '9') digits += c;
  }
  digits.erase(0, digits.find_first_not_of('0'));
  digits.erase(digits.find_last_not_of('0') + 1);
  return digits;
}

// Random doubles are written with the standard library's shortest round-trip
// digits (the layout is pinned by the rows above) and read back exactly.
TEST(FloatFormPropertyTest, RandomDoublesRoundTripInShortestForm) {
  // Even rounds: any bit pattern. Odd rounds: prices and quantities, a few
  // significant digits at every scale around the notation boundaries, where
  // the short-decimal fast path works.
  std::mt19937_64 rng(20240611);
  std::uniform_int_distribution<int> digit_count(1, 17);
  std::uniform_int_distribution<int> scale(-25, 25);
  for (int i = 0; i < 3'000'000; ++i) {
    double d = 0;
    if ((i & 1) == 0) {
      const std::uint64_t bits = rng();
      std::memcpy(&d, &bits, sizeof d);
    } else {
      std::uint64_t m = rng() % 100'000'000'000'000'000ULL;
      for (int k = digit_count(rng); k < 17; ++k) m /= 10;
      char text[48];
      const auto end = std::to_chars(text, text + 40, m).ptr;
      *end = 'e';
      const auto exp_end = std::to_chars(end + 1, text + sizeof text, scale(rng)).ptr;
      std::from_chars(text, exp_end, d);
      if ((i & 2) != 0) d = -d;
    }
    if (!std::isfinite(d) || d == 0) continue;
    const std::string text = double_text(d);
    char shortest[32];
    const char* end = std::to_chars(shortest, shortest + 32, d, std::chars_format::scientific).ptr;
    ASSERT_EQ(significant(text), significant({shortest, end})) << text;
    double back = 0;
    std::from_chars(text.data(), text.data() + text.size(), back);
    ASSERT_EQ(std::memcmp(&back, &d, sizeof d), 0) << text;
  }
}

}  // namespace
}  // namespace velkor::json
