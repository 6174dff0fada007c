// SHA-256 on OpenSSL's EVP interface (which uses the processor's SHA
// instructions where present), and the digest's 64-character hex text.
//
// Every OpenSSL call is checked. OpenSSL can fail to digest: no SHA-256
// implementation under the process's OpenSSL configuration (a provider setup
// that allows none), or memory exhaustion. Such a failure is kept and reported
// when the digest is asked for; a digest is never made up.
#ifndef VELKOR_DIGEST_SHA256_H_
#define VELKOR_DIGEST_SHA256_H_

#include <array>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

struct evp_md_ctx_st;

namespace velkor::digest {

using Digest = std::array<std::uint8_t, 32>;

// OpenSSL's description of why digesting failed, e.g. "initialization error".
using DigestFailure = std::string;

// An incremental SHA-256: feed any number of chunks, then finish once. After
// the first failure further chunks are ignored and finish() reports it.
class Sha256 {
 public:
  // The OpenSSL context is made on first use, so that a digest that is never
  // fed (the inline-data digests of a request without inline data) costs no
  // allocation.
  Sha256() = default;
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void update(std::string_view bytes);
  std::expected<Digest, DigestFailure> finish();
  // Starts a new digest on the same context, so that hashing many small texts
  // allocates nothing after the first.
  void restart();

 private:
  void fail();
  // Makes the context on first use; false (with the failure kept) when it cannot.
  bool started();

  evp_md_ctx_st* ctx_ = nullptr;
  DigestFailure failure_;  // empty while every call succeeded
};

// 64 lowercase hex digits: for each byte, its high then its low four bits.
std::string hex(const Digest& digest);

// SHA-256 of `bytes` as digest text.
std::expected<std::string, DigestFailure> sha256_hex(std::string_view bytes);

}  // namespace velkor::digest

#endif  // VELKOR_DIGEST_SHA256_H_
