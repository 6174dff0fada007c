// Prints N distinct 16-byte keys, one a line, that all have the same
// std::hash<std::string> value, and checks that they do before printing any.
//
// libstdc++ (64-bit size_t) hashes a string with a fixed seed: the state starts
// as seed ^ (length * mul), each 8-byte block b is mixed in as
// state = (state ^ f(b)) * mul with f(b) = xorshift47(b * mul) * mul, and the
// final state goes through bijective mixing. Every step of f can be
// undone (mul is odd, and a 47-bit xorshift is its own inverse on 64 bits), so
// for any first block the second block that brings the state to one chosen
// value can be computed; it is kept when all its bytes are printable ASCII
// other than `"` and `\`, so the keys go into JSON text as they are.
//
// The compile benchmark uses these keys to show that reading an object costs
// the same whatever its keys hash to.
//
// Usage: colliding_keys N
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr std::uint64_t kMul = 0xc6a4a7935bd1e995ULL;
constexpr std::uint64_t kSeed = 0xc70f6907ULL;
constexpr std::size_t kKeySize = 16;

constexpr std::uint64_t inverse_of(std::uint64_t odd) {
  std::uint64_t inverse = odd;  // right in the lowest 3 bits; each step doubles that
  for (int i = 0; i < 5; ++i) inverse *= 2 - odd * inverse;
  return inverse;
}
constexpr std::uint64_t kMulInverse = inverse_of(kMul);
static_assert(kMul * kMulInverse == 1);

std::uint64_t xorshift47(std::uint64_t v) { return v ^ (v >> 47); }
std::uint64_t mix_block(std::uint64_t block) { return xorshift47(block * kMul) * kMul; }
std::uint64_t unmix_block(std::uint64_t mixed) { return xorshift47(mixed * kMulInverse) * kMulInverse; }

// The hash of a 16-byte string, as the library computes it.
std::uint64_t hash16(std::uint64_t first, std::uint64_t second) {
  std::uint64_t state = kSeed ^ (kKeySize * kMul);
  state = (state ^ mix_block(first)) * kMul;
  state = (state ^ mix_block(second)) * kMul;
  state = xorshift47(state) * kMul;
  return xorshift47(state);
}

bool allowed(unsigned char c) { return c > ' ' && c < 0x7f && c != '"' && c != '\\'; }

bool printable_block(std::uint64_t block) {
  for (int i = 0; i < 8; ++i) {
    if (!allowed(static_cast<unsigned char>(block >> (8 * i)))) return false;
  }
  return true;
}

// Blocks are little-endian loads of the key's bytes.
void append_block(std::string& key, std::uint64_t block) {
  for (int i = 0; i < 8; ++i) key.push_back(static_cast<char>(block >> (8 * i)));
}

// The allowed bytes, in order; first blocks count through them like the digits
// of an odometer, so every first block, and so every key, is different.
std::string allowed_bytes() {
  std::string bytes;
  for (int c = 0; c < 256; ++c) {
    if (allowed(static_cast<unsigned char>(c))) bytes.push_back(static_cast<char>(c));
  }
  return bytes;
}

class FirstBlocks {
 public:
  std::uint64_t next() {
    std::uint64_t block = 0;
    for (int i = 0; i < 8; ++i) block |= std::uint64_t{static_cast<unsigned char>(bytes_[digit_[i]])} << (8 * i);
    for (int i = 0; i < 8 && ++digit_[i] == bytes_.size(); ++i) digit_[i] = 0;
    return block;
  }

 private:
  std::string bytes_ = allowed_bytes();
  std::size_t digit_[8] = {};
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: colliding_keys N\n");
    return 2;
  }
  const std::size_t count = std::strtoull(argv[1], nullptr, 10);

  // The state after both blocks that every key is steered to.
  constexpr std::uint64_t kTarget = 0x0123456789abcdefULL;
  const std::uint64_t start = kSeed ^ (kKeySize * kMul);
  std::vector<std::string> keys;
  keys.reserve(count);
  FirstBlocks firsts;
  while (keys.size() < count) {
    const std::uint64_t first = firsts.next();
    const std::uint64_t state = (start ^ mix_block(first)) * kMul;
    const std::uint64_t second = unmix_block(state ^ kTarget);
    if (!printable_block(second)) continue;
    std::string key;
    append_block(key, first);
    append_block(key, second);
    keys.push_back(std::move(key));
  }

  // The keys are only worth anything if the standard library agrees: with
  // it, an ordinary key hashes as modelled above, and every key made here
  // hashes alike.
  const std::hash<std::string> library_hash;
  const std::string plain = "an ordinary key.";
  std::uint64_t plain_blocks[2];
  std::memcpy(plain_blocks, plain.data(), sizeof plain_blocks);
  if (library_hash(plain) != hash16(plain_blocks[0], plain_blocks[1])) {
    std::fprintf(stderr, "colliding_keys: std::hash<std::string> here is not the hash these keys are made for\n");
    return 1;
  }
  for (const std::string& key : keys) {
    if (library_hash(key) != library_hash(keys.front())) {
      std::fprintf(stderr, "colliding_keys: key %s does not collide\n", key.c_str());
      return 1;
    }
  }
  for (const std::string& key : keys) std::printf("%s\n", key.c_str());
  return 0;
}
