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

// Fast path for the short decimals that dominate market data (prices such as
// 101.23), for 0 < d in [1e-5, 1e15), the positional range. Take the most
// fractional digits k for which d * 10^k stays below 2^50 and m, the integer
// nearest to d * 10^k. Both m and 10^k are exact doubles and the division is
// correctly rounded, so m / 10^k == d means the decimal m * 10^-k reads back as
// d. Below 2^50 the interval of decimals that read back as d is narrower than
// 10^-k / 8, so it holds at most one candidate with k fractional digits, and a
// shortest form with fewer digits, if any, is that same candidate with trailing
// zeros: stripping them gives the shortest digits. When m / 10^k != d, no
// decimal with at most k fractional digits reads back as d and nothing is
// written; the general path decides.
bool append_short_decimal(std::string& out, double d) {
  if (d < 1e-5 || d >= 1e15) return false;
  std::uint64_t bits = 0;
  std::memcpy(&bits, &d, sizeof d);
  const int binary_exponent = static_cast<int>((bits >> 52) & 0x7ff) - 1023;  // d < 2^(binary_exponent + 1)
  // k <= (49 - binary_exponent) * log10(2), with 78913 / 2^18 just below log10(2).
  int k = ((49 - binary_exponent) * 78913) >> 18;
  auto m = static_cast<std::uint64_t>(d * kPow10[k] + 0.5);  // exact: d * 10^k < 2^50
  if (static_cast<double>(m) / kPow10[k] != d) return false;
  while (k > 0 && m % 10 == 0) {
    m /= 10;
    --k;
  }
  char digits[24];
  char* const end = std::to_chars(digits, digits + sizeof digits, m).ptr;
  const auto n = static_cast<int>(end - digits);
  char text[48];
  char* p = text;
  if (k == 0) {
    p = std::copy(digits, end, p);
    *p++ = '.';
    *p++ = '0';
  } else if (n > k) {
    p = std::copy(digits, end - k, p);
    *p++ = '.';
    p = std::copy(end - k, end, p);
  } else {
    *p++ = '0';
    *p++ = '.';
    p = std::fill_n(p, k - n, '0');
    p = std::copy(digits, end, p);
  }
  out.append(text, p);
  return true;
}

}  // namespace

void append_double(std::string& out, double d, ExponentSign sign) {
  // JSON has no form for NaN or infinity. The reader never produces them, but a
  // value built in code may hold one; it is written as `null` rather than
  // breaking the text.
  if (!std::isfinite(d)) {
    out.append("null");
    return;
  }
  if (std::signbit(d)) {
    out.push_back('-');
    d = -d;
  }
  if (d == 0.0) {
    out.append("0.0");
    return;
  }
  if (append_short_decimal(out, d)) return;
  // std::to_chars in scientific form yields the shortest round-trip digits
  // (nearest to the exact value on ties), as `d.ddde[+-]XX`.
  char buf[64];
  auto result = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::scientific);
  const char* end = result.ptr;
  const char* e_pos = static_cast<const char*>(std::memchr(buf, 'e', static_cast<std::size_t>(end - buf)));
  char digits[24];
  int n = 0;
  for (const char* p = buf; p < e_pos; ++p) {
    if (*p != '.') digits[n++] = *p;
  }
  while (n > 1 && digits[n - 1] == '0') --n;
  int exponent = 0;
  std::from_chars(e_pos + (e_pos[1] == '+' ? 2 : 1), end, exponent);

  if (exponent >= -5 && exponent <= 15) {
    if (exponent >= n - 1) {
      out.append(digits, static_cast<std::size_t>(n));
      out.append(static_cast<std::size_t>(exponent - n + 1), '0');
      out.append(".0");
    } else if (exponent >= 0) {
      out.append(digits, static_cast<std::size_t>(exponent + 1));
      out.push_back('.');
      out.append(digits + exponent + 1, static_cast<std::size_t>(n - exponent - 1));
    } else {
      out.append("0.");
      out.append(static_cast<std::size_t>(-exponent - 1), '0');
      out.append(digits, static_cast<std::size_t>(n));
    }
    return;
  }
  out.push_back(digits[0]);
  if (n >= 2) {
    out.push_back('.');
    out.append(digits + 1, static_cast<std::size_t>(n - 1));
  }
  out.push_back('e');
  if (exponent < 0) {
    out.push_back('-');
    exponent = -exponent;
  } else if (sign == ExponentSign::kWritePlus) {
    out.push_back('+');
  }
  append_unsigned(out, static_cast<std::uint64_t>(exponent));
}

void append_unsigned(std::string& out, std::uint64_t u) {
  char buf[24];
  auto result = std::to_chars(buf, buf + sizeof buf, u);
  out.append(buf, result.ptr);
}

void append_signed(std::string& out, std::int64_t i) {
  char buf[24];
  auto result = std::to_chars(buf, buf + sizeof buf, i);
  out.append(buf, result.ptr);
}

}  // namespace velkor::json
