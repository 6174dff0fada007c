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

// The significant digits of a number text (no sign, point, exponent, or
// leading and trailing zeros) and its decimal exponent of the first digit.
struct Digits {
  std::string digits;
  int exponent = 0;
};

Digits significant_digits(std::string_view text) {
  Digits result;
  const std::size_t e = text.find('e');
  const std::string_view mantissa = text.substr(0, e);
  int point = -1;
  for (char c : mantissa) {
    if (c == '.') {
      point = static_cast<int>(result.digits.size());
    } else if (c != '-') {
      result.digits.push_back(c);
    }
  }
  if (point < 0) point = static_cast<int>(result.digits.size());
  int exponent = 0;
  if (e != std::string_view::npos) {
    std::string_view exp = text.substr(e + 1);
    if (exp.front() == '+') exp.remove_prefix(1);
    std::from_chars(exp.data(), exp.data() + exp.size(), exponent);
  }
  const std::size_t first = result.digits.find_first_not_of('0');
  result.digits.erase(0, first);
  point -= static_cast<int>(first);
  while (result.digits.size() > 1 && result.digits.back() == '0') result.digits.pop_back();
  result.exponent = point - 1 + exponent;
  return result;
}

// Checks the law of the float form for one finite non-zero double: the text
// reads back as exactly `d`, carries the shortest round-trip digits (those of
// std::to_chars), and uses positional notation exactly for exponents -5..15.
void expect_shortest_round_trip(double d) {
  const std::string text = double_text(d);
  double back = 0;
  const auto parsed = std::from_chars(text.data(), text.data() + text.size(), back);
  ASSERT_EQ(parsed.ec, std::errc()) << text;
  ASSERT_EQ(parsed.ptr, text.data() + text.size()) << text;
  ASSERT_EQ(std::memcmp(&back, &d, sizeof d), 0) << text;

  char shortest[64];
  const auto written = std::to_chars(shortest, shortest + sizeof shortest, d, std::chars_format::scientific);
  const Digits expected = significant_digits(std::string_view(shortest, written.ptr));
  const Digits actual = significant_digits(text);
  ASSERT_EQ(actual.digits, expected.digits) << text;
  ASSERT_EQ(actual.exponent, expected.exponent) << text;
  const bool positional = expected.exponent >= -5 && expected.exponent <= 15;
  ASSERT_EQ(text.find('e') == std::string::npos, positional) << text;
  // No padding digits: a fraction is `.0` (integral positional) or ends in a
  // non-zero digit.
  const std::string_view mantissa = std::string_view(text).substr(0, text.find('e'));
  const std::size_t point = mantissa.find('.');
  ASSERT_TRUE(point != std::string_view::npos || !positional) << text;
  if (point != std::string_view::npos) {
    const std::string_view fraction = mantissa.substr(point + 1);
    ASSERT_TRUE((positional && fraction == "0") || fraction.back() != '0') << text;
  }
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
    expect_shortest_round_trip(d);
    if (testing::Test::HasFatalFailure()) return;
  }
}

}  // namespace
}  // namespace velkor::json
