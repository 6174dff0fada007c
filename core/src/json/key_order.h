// Byte order of object keys, the order canonical text and repeated-key
// detection sort by, with a cheap first step for large objects.
//
// Sorting many members by comparing their keys directly touches every key's
// heap bytes on each comparison; once an object outgrows the cache that
// dominates the time. `key_prefix` packs a key's first 8 bytes into one number
// whose order is the keys' byte order as far as those bytes go, so a sort of
// (prefix, member) pairs settles most comparisons in its own array and looks at
// the keys only when two prefixes are equal.
#ifndef VELKOR_JSON_KEY_ORDER_H_
#define VELKOR_JSON_KEY_ORDER_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace velkor::json {

// The first 8 bytes of `key` as a big-endian number, zero-padded. For any two
// keys a, b: key_prefix(a) < key_prefix(b) implies a < b in byte order
// (unsigned bytes, a key before every longer key it starts), and a == b implies
// equal prefixes; equal prefixes say nothing more.
inline std::uint64_t key_prefix(std::string_view key) {
  std::uint64_t prefix = 0;
  for (std::size_t i = 0; i < 8; ++i) {
    prefix = (prefix << 8) | (i < key.size() ? static_cast<unsigned char>(key[i]) : 0u);
  }
  return prefix;
}

}  // namespace velkor::json

#endif  // VELKOR_JSON_KEY_ORDER_H_
