// SHA-256 on OpenSSL's EVP interface (which uses the processor's SHA
// instructions where present), and the digest's 64-character hex text.
//
// The digests fetch SHA-256 from a library context of their own, made without
// reading any configuration: what the process's OpenSSL configuration says
// (OPENSSL_CONF, the system's openssl.cnf, the providers, engines and default
// properties they set up) belongs to the program that hosts the module and
// does not reach the digests. (The extension links libcrypto in with its
// symbols hidden, so that another libcrypto in the process does not either.)
//
// Every OpenSSL call is checked. OpenSSL can still fail to digest, on memory
// exhaustion or when the context allows no SHA-256 implementation. Such a
// failure is kept and reported when the digest is asked for; a digest is never
// made up.
#ifndef VELKOR_DIGEST_SHA256_H_
#define VELKOR_DIGEST_SHA256_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

struct evp_md_ctx_st;
struct ossl_lib_ctx_st;

namespace velkor::digest {

using Digest = std::array<std::uint8_t, 32>;

// OpenSSL's description of why digesting failed, e.g. "unsupported".
using DigestFailure = std::string;

// The OpenSSL library context every digest fetches SHA-256 from, made on first
// use; null when it could not be made (then every digest fails). Properties
// set on it apply to the digests alone; the tests use that to take SHA-256
// away.
ossl_lib_ctx_st* library_context();

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

// A digest's text, 64 lowercase hex digits, held in place: a std::string of
// 64 characters is past the small-string buffer, so each one kept or copied
// (an entry, the manifest, a kept source digest) would be an allocation.
class DigestText {
 public:
  static constexpr std::size_t kSize = 64;

  // All zeros, a placeholder until a digest's text is assigned.
  constexpr DigestText() { digits_.fill('0'); }
  // A digest text written in the code, checked when it is compiled.
  consteval DigestText(const char* text) {
    for (std::size_t i = 0; i < kSize; ++i) {
      const char c = text[i];
      if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) digest_text_needs_64_lowercase_hex_digits();
      digits_[i] = c;
    }
    if (text[kSize] != '\0') digest_text_needs_64_lowercase_hex_digits();
  }

  std::string_view view() const { return {digits_.data(), digits_.size()}; }
  // So that it goes wherever text is taken: a writer, a listing, a comparison.
  operator std::string_view() const { return view(); }

  friend bool operator==(const DigestText& text, std::string_view other) { return text.view() == other; }

 private:
  friend DigestText hex(const Digest& digest);
  // Not defined: reached only when a literal is malformed, where it stops the compilation.
  static void digest_text_needs_64_lowercase_hex_digits();

  std::array<char, kSize> digits_;
};

// For each byte, its high then its low four bits.
DigestText hex(const Digest& digest);

// SHA-256 of `bytes` as digest text.
std::expected<DigestText, DigestFailure> sha256_hex(std::string_view bytes);

}  // namespace velkor::digest

#endif  // VELKOR_DIGEST_SHA256_H_
