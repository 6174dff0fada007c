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

namespace {

// The length of the sequence a lead byte starts, or 0 for a byte that starts none.
std::size_t lead_length(unsigned char c) {
  if (c >= 0xC2 && c <= 0xDF) return 2;
  if (c >= 0xE0 && c <= 0xEF) return 3;
  if (c >= 0xF0 && c <= 0xF4) return 4;
  return 0;
}

// Whether `bytes` from `at` to its end is the beginning of a well-formed
// sequence, cut short.
bool cut_short(std::string_view bytes, std::size_t at) {
  const std::size_t k = bytes.size() - at;
  return lead_length(static_cast<unsigned char>(bytes[at])) > k &&
         utf8_sequence_length(bytes, at) == -static_cast<int>(k);
}

}  // namespace

bool Utf8Stream::feed(std::string_view piece) {
  if (!valid_) return false;
  std::size_t at = 0;
  // First complete a sequence the previous piece cut, a byte at a time.
  while (!pending_.empty() && at < piece.size()) {
    pending_.push_back(piece[at++]);
    if (utf8_sequence_length(pending_, 0) > 0) {
      pending_.clear();
    } else if (!cut_short(pending_, 0)) {
      return valid_ = false;
    }
  }
  const std::string_view rest = piece.substr(at);
  // Keep back a sequence cut by this piece's end: at most its last 3 bytes.
  std::size_t tail = 0;
  for (std::size_t k = 1; k <= 3 && k <= rest.size(); ++k) {
    const auto c = static_cast<unsigned char>(rest[rest.size() - k]);
    if ((c & 0xC0) == 0x80) continue;  // a continuation byte: look further back
    if (cut_short(rest, rest.size() - k)) tail = k;
    break;
  }
  if (!is_valid_utf8(rest.substr(0, rest.size() - tail))) return valid_ = false;
  pending_.append(rest.substr(rest.size() - tail));
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
