#include "json/number_text.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "support/test_support_names.h"

namespace velkor::json {
namespace {

std::string double_text(double d, ExponentSign sign = ExponentSign::kWritePlus) {
  std::string out;
  append_double(out, d, sign);
  return out;
}

struct FloatCase {
  double value;
  const char* text;
};

class FloatFormTest : public testing::TestWithParam<FloatCase> {};

TEST_P(FloatFormTest, WritesTheCanonicalForm) {
  EXPECT_EQ(double_text(GetParam().value), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, FloatFormTest,
    testing::Values(
        // zero and sign
        FloatCase{0.0, "0.0"}, FloatCase{-0.0, "-0.0"}, FloatCase{-2.5, "-2.5"},
        // integral doubles keep a fractional part
        FloatCase{1.0, "1.0"}, FloatCase{100.0, "100.0"}, FloatCase{1e15, "1000000000000000.0"},
        // upper notation boundary: exponent 16 switches to e+
        FloatCase{1e16, "1e+16"}, FloatCase{999999999999999.9, "999999999999999.9"},
        // fractions
        FloatCase{0.1 + 0.2, "0.30000000000000004"}, FloatCase{101.23, "101.23"},
        // lower notation boundary: exponent -5 is positional, -6 is not
        FloatCase{0.00001, "0.00001"}, FloatCase{0.000012345, "0.000012345"}, FloatCase{-0.000001, "-1e-6"},
        // extremes
        FloatCase{5e-324, "5e-324"}, FloatCase{1.7976931348623157e308, "1.7976931348623157e+308"},
        // no JSON form: never a broken text
        FloatCase{std::numeric_limits<double>::quiet_NaN(), "null"},
        FloatCase{-std::numeric_limits<double>::infinity(), "null"}),
    [](const auto& info) { return test_row_name(info.index, info.param.text); });

TEST(FloatFormTest, MessagesOmitThePlusOfPositiveExponents) {
  EXPECT_EQ(double_text(1e16, ExponentSign::kOmitPlus), "1e16");
  EXPECT_EQ(double_text(1e-7, ExponentSign::kOmitPlus), "1e-7");
  EXPECT_EQ(double_text(2.0, ExponentSign::kOmitPlus), "2.0");
}

TEST(IntegerFormTest, WritesFullRange) {
  std::string out;
  append_unsigned(out, 0);
  out.push_back(' ');
  append_unsigned(out, std::numeric_limits<std::uint64_t>::max());
  out.push_back(' ');
  append_signed(out, std::numeric_limits<std::int64_t>::min());
  EXPECT_EQ(out, "0 18446744073709551615 -9223372036854775808");
}

// The float form of a finite non-zero double, built from the shortest
// round-trip digits of std::to_chars: positional for decimal exponents -5..15
// (integral values end in ".0"), otherwise d.ddde+XX / d.ddde-XX.
std::string expected_form(double d) {
  char buf[64];
  const std::string sci(buf, std::to_chars(buf, buf + sizeof buf, std::fabs(d), std::chars_format::scientific).ptr);
  const std::size_t e = sci.find('e');
  std::string digits = sci.substr(0, e);
  if (digits.size() > 1) digits.erase(1, 1);  // the point
  const int exponent = std::stoi(sci.substr(e + 1));
  const int k = static_cast<int>(digits.size());
  std::string out = d < 0 ? "-" : "";
  if (exponent < -5 || exponent > 15) {
    out += digits.substr(0, 1) + (k > 1 ? "." + digits.substr(1) : "");
    return out + (exponent < 0 ? "e-" : "e+") + std::to_string(std::abs(exponent));
  }
  if (exponent < 0) return out + "0." + std::string(-exponent - 1, '0') + digits;
  if (k <= exponent + 1) return out + digits + std::string(exponent + 1 - k, '0') + ".0";
  return out + digits.substr(0, exponent + 1) + "." + digits.substr(exponent + 1);
}

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
    ASSERT_EQ(text, expected_form(d));
    double back = 0;
    std::from_chars(text.data(), text.data() + text.size(), back);
    ASSERT_EQ(std::memcmp(&back, &d, sizeof d), 0) << text;
  }
}

}  // namespace
}  // namespace velkor::json
