// SHA-256 on OpenSSL's EVP interface (which uses the processor's SHA
// instructions where present), and the digest's 64-character hex text.
#ifndef VELKOR_DIGEST_SHA256_H_
#define VELKOR_DIGEST_SHA256_H_

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

struct evp_md_ctx_st;

namespace velkor::digest {

using Digest = std::array<std::uint8_t, 32>;

// An incremental SHA-256: feed any number of chunks, then finish once.
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void update(std::string_view bytes);
  Digest finish();

 private:
  evp_md_ctx_st* ctx_;
};

// 64 lowercase hex digits: for each byte, its high then its low four bits.
std::string hex(const Digest& digest);

// SHA-256 of `bytes` as digest text.
std::string sha256_hex(std::string_view bytes);

}  // namespace velkor::digest

#endif  // VELKOR_DIGEST_SHA256_H_
