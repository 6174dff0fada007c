#include "support/utf8_text.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace velkor {

// Byte ranges follow the table of well-formed UTF-8 byte sequences.
int utf8_sequence_length(std::string_view bytes, std::size_t at) {
  const unsigned char lead = static_cast<unsigned char>(bytes[at]);
  if (lead < 0x80) return 1;
  int need;
  unsigned char lo = 0x80, hi = 0xBF;  // range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    need = 1;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    need = 2;
    if (lead == 0xE0) lo = 0xA0;
    if (lead == 0xED) hi = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    need = 3;
    if (lead == 0xF0) lo = 0x90;
    if (lead == 0xF4) hi = 0x8F;
  } else {
    return -1;
  }
  int taken = 1;
  for (int i = 0; i < need; ++i) {
    if (at + taken >= bytes.size()) return -taken;
    const unsigned char c = static_cast<unsigned char>(bytes[at + taken]);
    if (c < lo || c > hi) return -taken;
    ++taken;
    lo = 0x80;
    hi = 0xBF;
  }
  return taken;
}

bool is_valid_utf8(std::string_view bytes) {
  for (std::size_t at = 0; at < bytes.size();) {
    // Runs of ASCII, eight bytes at a time.
    std::uint64_t word = 0;
    if (at + 8 <= bytes.size() && (std::memcpy(&word, bytes.data() + at, 8), (word & 0x8080808080808080ull) == 0)) {
      at += 8;
      continue;
    }
    int n = utf8_sequence_length(bytes, at);
    if (n < 0) return false;
    at += static_cast<std::size_t>(n);
  }
  return true;
}

std::string decode_utf8_lossy(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  for (std::size_t at = 0; at < bytes.size();) {
    int n = utf8_sequence_length(bytes, at);
    if (n > 0) {
      text.append(bytes, at, static_cast<std::size_t>(n));
      at += static_cast<std::size_t>(n);
    } else {
      text += "\xEF\xBF\xBD";
      at += static_cast<std::size_t>(-n);
    }
  }
  return text;
}

}  // namespace velkor
