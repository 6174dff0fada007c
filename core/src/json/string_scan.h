// Finding the end of a plain run of string text eight bytes at a time: the
// reader stops at the bytes it must look at (control, `"`, `\`, non-ASCII),
// the writer at the bytes it must escape (control, `"`, `\`). Both scans give
// exactly the position a byte-by-byte loop would.
#ifndef VELKOR_JSON_STRING_SCAN_H_
#define VELKOR_JSON_STRING_SCAN_H_

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

namespace velkor::json {
namespace string_scan_internal {

// The word test takes the text's first byte as the word's lowest byte; on any
// other byte order the scans use the byte loop alone.
inline constexpr bool kWordScan = std::endian::native == std::endian::little;

inline constexpr std::uint64_t kOnes = 0x0101010101010101;
inline constexpr std::uint64_t kHighBits = 0x8080808080808080;

// The byte loop's answers, one bit per scan: a table look-up is cheaper than
// three comparisons a byte.
inline constexpr std::uint8_t kEscapeBit = 1;  // control, `"`, `\`
inline constexpr std::uint8_t kStopBit = 2;    // those and bytes >= 0x80
inline constexpr std::array<std::uint8_t, 256> kByteStops = [] {
  std::array<std::uint8_t, 256> table{};
  for (int c = 0; c < 0x20; ++c) table[c] = kEscapeBit | kStopBit;
  for (int c = 0x80; c < 0x100; ++c) table[c] = kStopBit;
  table['"'] = table['\\'] = kEscapeBit | kStopBit;
  return table;
}();

// In each byte of the result, the high bit is set when the byte of `word` is
// a control byte, `"` or `\`, and may be set when it is >= 0x80: three
// subtractions per byte, one going below zero for exactly those stops. Bytes
// are subtracted from the lowest up, and only a byte that is a stop lends a
// borrow to the byte above it; so every byte up to and including the first
// stop gets an exact answer, and a false flag from a borrow can only stand
// above a true one. The lowest flagged byte is therefore always the first
// stop, which is all the scans use. Bytes >= 0x80 lend no borrow; the
// callers decide whether they stop (`| word`) or not (`& ~word`).
inline std::uint64_t escape_candidates(std::uint64_t word) {
  return (word - kOnes * 0x20) | ((word ^ (kOnes * '"')) - kOnes) | ((word ^ (kOnes * '\\')) - kOnes);
}

// The first byte in [p, end) flagged by `flags(word)` (or, for the fewer than
// eight bytes at the end, marked with `bit` in kByteStops), or `end`.
template <typename WordFlags>
const char* find_first(const char* p, const char* end, WordFlags flags, std::uint8_t bit) {
  if constexpr (kWordScan) {
    for (; end - p >= 8; p += 8) {
      std::uint64_t word;
      std::memcpy(&word, p, 8);
      if (const std::uint64_t found = flags(word); found != 0) return p + std::countr_zero(found) / 8;
    }
  }
  while (p != end && (kByteStops[static_cast<unsigned char>(*p)] & bit) == 0) ++p;
  return p;
}

}  // namespace string_scan_internal

// The first byte in [p, end) that ends a plain run inside a string literal
// being read: a control byte, `"`, `\` or a byte >= 0x80; `end` if none.
inline const char* find_string_stop(const char* p, const char* end) {
  using namespace string_scan_internal;
  return find_first(p, end, [](std::uint64_t w) { return (escape_candidates(w) | w) & kHighBits; }, kStopBit);
}

// The first byte in [p, end) that a JSON string literal must escape: a
// control byte, `"` or `\`; `end` if none.
inline const char* find_escape(const char* p, const char* end) {
  using namespace string_scan_internal;
  return find_first(p, end, [](std::uint64_t w) { return escape_candidates(w) & ~w & kHighBits; }, kEscapeBit);
}

}  // namespace velkor::json

#endif  // VELKOR_JSON_STRING_SCAN_H_
