#include "json/number_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <system_error>

namespace velkor::json {
namespace {

constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                             1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The shortest decimal significand of a double, d1...dn without trailing
// zeros, and the decimal exponent of d1.
struct ShortestDigits {
  char digits[24];
  int n = 0;
  int exponent = 0;
};

// Fast path for the short decimals that dominate market data (prices such as
// 101.23), for 0 < d in [1e-5, 1e15), the positional range. Take the most
// fractional digits k for which d * 10^k stays below 2^50 and m, the integer
// nearest to d * 10^k. Both m and 10^k are exact doubles and the division is
// correctly rounded, so m / 10^k == d means the decimal m * 10^-k reads back as
// d. With d * 10^k below 2^50 the interval of decimals that read back as d is
// narrower than 10^-k / 4, so it holds at most one candidate with k fractional
// digits, and the rounding of d * 10^k (under 2^-4) cannot move m off it. A
// shortest form with fewer digits, if any, is that same candidate with trailing
// zeros: stripping them gives the shortest digits. When m / 10^k != d, no
// decimal with at most k fractional digits reads back as d and the general
// path decides.
bool short_decimal_digits(double d, ShortestDigits& out) {
  if (d < 1e-5 || d >= 1e15) return false;
  std::uint64_t bits = 0;
  std::memcpy(&bits, &d, sizeof d);
  const int binary_exponent = static_cast<int>((bits >> 52) & 0x7ff) - 1023;  // d < 2^(binary_exponent + 1)
  // k <= (49 - binary_exponent) * log10(2), with 78913 / 2^18 just below log10(2).
  int k = ((49 - binary_exponent) * 78913) >> 18;
  auto m = static_cast<std::uint64_t>(d * kPow10[k] + 0.5);  // exact: d * 10^k < 2^50
  if (static_cast<double>(m) / kPow10[k] != d) return false;
  // m < 2^50 has at most 15 trailing zeros: strip 8, 4, 2 and 1 of them, but
  // never into the integer part (k stays >= 0).
  for (const int zeros : {8, 4, 2, 1}) {
    const auto scale = static_cast<std::uint64_t>(kPow10[zeros]);
    if (k >= zeros && m % scale == 0) {
      m /= scale;
      k -= zeros;
    }
  }
  const int length = static_cast<int>(std::to_chars(out.digits, out.digits + sizeof out.digits, m).ptr - out.digits);
  out.exponent = length - 1 - k;
  out.n = length;
  while (out.n > 1 && out.digits[out.n - 1] == '0') --out.n;  // 100 (k = 0): digits 1, exponent 2
  return true;
}

// Any positive finite double: std::to_chars in scientific form yields the
// shortest round-trip digits (nearest to the exact value on ties) as
// `d.ddde[+-]XX`.
void general_digits(double d, ShortestDigits& out) {
  char buf[64];
  const char* end = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::scientific).ptr;
  const char* e_pos = static_cast<const char*>(std::memchr(buf, 'e', static_cast<std::size_t>(end - buf)));
  out.n = 0;
  for (const char* p = buf; p < e_pos; ++p) {
    if (*p != '.') out.digits[out.n++] = *p;
  }
  while (out.n > 1 && out.digits[out.n - 1] == '0') --out.n;
  std::from_chars(e_pos + (e_pos[1] == '+' ? 2 : 1), end, out.exponent);
}

char* copy_text(char* p, const char* text, std::size_t n) {
  std::memcpy(p, text, n);
  return p + n;
}

// Room for the longest text: sign, 17 digits, `0.0000` or `.` and `e-324`.
constexpr std::size_t kMaxDoubleText = 32;

// Lays out the significand d1...dn (no trailing zeros) with the decimal
// exponent of d1: positional for exponents -5..15, otherwise d.ddde+N.
char* write_layout(char* p, const char* digits, int n, int exponent, ExponentSign sign) {

  if (exponent >= -5 && exponent <= 15) {
    if (exponent >= n - 1) {  // integral: 100.0
      p = std::copy(digits, digits + n, p);
      p = std::fill_n(p, exponent - n + 1, '0');
      return copy_text(p, ".0", 2);
    }
    if (exponent >= 0) {  // 12.5
      p = std::copy(digits, digits + exponent + 1, p);
      *p++ = '.';
      return std::copy(digits + exponent + 1, digits + n, p);
    }
    p = copy_text(p, "0.", 2);  // 0.00001
    p = std::fill_n(p, -exponent - 1, '0');
    return std::copy(digits, digits + n, p);
  }
  *p++ = digits[0];
  if (n >= 2) {
    *p++ = '.';
    p = std::copy(digits + 1, digits + n, p);
  }
  *p++ = 'e';
  if (exponent < 0) {
    *p++ = '-';
    exponent = -exponent;
  } else if (sign == ExponentSign::kWritePlus) {
    *p++ = '+';
  }
  return std::to_chars(p, p + 8, exponent).ptr;
}

// Writes the text of append_double at `p` and returns its end.
char* write_double(char* p, double d, ExponentSign sign) {
  // JSON has no form for NaN or infinity. The reader never produces them, but a
  // value built in code may hold one; it is written as `null` rather than
  // breaking the text.
  if (!std::isfinite(d)) return copy_text(p, "null", 4);
  if (std::signbit(d)) {
    *p++ = '-';
    d = -d;
  }
  if (d == 0.0) return copy_text(p, "0.0", 3);
  ShortestDigits s;
  if (!short_decimal_digits(d, s)) general_digits(d, s);
  return write_layout(p, s.digits, s.n, s.exponent, sign);
}

}  // namespace

void append_double(std::string& out, double d, ExponentSign sign) {
  const std::size_t old_size = out.size();
  out.resize_and_overwrite(old_size + kMaxDoubleText, [&](char* text, std::size_t) {
    return static_cast<std::size_t>(write_double(text + old_size, d, sign) - text);
  });
}

void append_decimal(std::string& out, bool negative, std::string_view digits, int exponent, ExponentSign sign) {
  const std::size_t old_size = out.size();
  out.resize_and_overwrite(old_size + digits.size() + 32, [&](char* text, std::size_t) {
    char* p = text + old_size;
    if (negative) *p++ = '-';
    if (digits.empty()) return static_cast<std::size_t>(copy_text(p, "0.0", 3) - text);
    return static_cast<std::size_t>(
        write_layout(p, digits.data(), static_cast<int>(digits.size()), exponent, sign) - text);
  });
}

void append_unsigned(std::string& out, std::uint64_t u) {
  const std::size_t old_size = out.size();
  out.resize_and_overwrite(old_size + 20, [&](char* text, std::size_t n) {
    return static_cast<std::size_t>(std::to_chars(text + old_size, text + n, u).ptr - text);
  });
}

void append_signed(std::string& out, std::int64_t i) {
  const std::size_t old_size = out.size();
  out.resize_and_overwrite(old_size + 20, [&](char* text, std::size_t n) {
    return static_cast<std::size_t>(std::to_chars(text + old_size, text + n, i).ptr - text);
  });
}

}  // namespace velkor::json
