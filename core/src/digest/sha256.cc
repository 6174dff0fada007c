#include "digest/sha256.h"

#include <openssl/err.h>
#include <openssl/evp.h>

#include <array>
#include <atomic>
#include <cstring>

namespace velkor::digest {

ossl_lib_ctx_st* library_context() {
  // A new context reads no configuration file and loads no provider or engine
  // a configuration names; its built-in default provider answers the fetch.
  static OSSL_LIB_CTX* const context = OSSL_LIB_CTX_new();
  return context;
}

namespace {

// The SHA-256 implementation, looked up once per process: a lookup by name
// walks OpenSSL's provider tables under locks and costs more than hashing a
// small file. Until a lookup succeeds, each digest looks it up again (and so
// reports the failure itself) rather than keeping the failure for good.
const EVP_MD* sha256_algorithm() {
  static std::atomic<EVP_MD*> fetched{nullptr};
  if (EVP_MD* const known = fetched.load(std::memory_order_acquire)) return known;
  OSSL_LIB_CTX* const context = library_context();
  // Never the default context: that one is the configured one.
  if (context == nullptr) return nullptr;
  EVP_MD* const algorithm = EVP_MD_fetch(context, "SHA256", nullptr);
  if (algorithm == nullptr) return nullptr;
  EVP_MD* known = nullptr;
  if (fetched.compare_exchange_strong(known, algorithm, std::memory_order_acq_rel)) return algorithm;
  EVP_MD_free(algorithm);  // another thread's lookup came first
  return known;
}

// Starts a digest on `ctx`; false when there is no SHA-256 to start.
bool initialise(EVP_MD_CTX* ctx) {
  const EVP_MD* const algorithm = sha256_algorithm();
  return algorithm != nullptr && EVP_DigestInit_ex2(ctx, algorithm, nullptr) == 1;
}

}  // namespace

bool Sha256::started() {
  if (ctx_ != nullptr) return true;
  ctx_ = EVP_MD_CTX_new();
  if (ctx_ == nullptr || !initialise(ctx_)) {
    fail();
    return false;
  }
  return true;
}

void Sha256::restart() {
  failure_.clear();
  if (ctx_ == nullptr) return;  // made on first use (again, after a failure to allocate it)
  if (!initialise(ctx_)) fail();
}

Sha256::~Sha256() { EVP_MD_CTX_free(ctx_); }

void Sha256::fail() {
  // The thread's OpenSSL error queue says why; it is emptied so that a later,
  // unrelated failure is not described by this one.
  const unsigned long code = ERR_peek_last_error();
  const char* reason = code != 0 ? ERR_reason_error_string(code) : nullptr;
  failure_ = reason != nullptr ? reason : "the digest could not be computed";
  ERR_clear_error();
}

void Sha256::update(std::string_view bytes) {
  if (!failure_.empty() || bytes.empty() || !started()) return;
  if (EVP_DigestUpdate(ctx_, bytes.data(), bytes.size()) != 1) fail();
}

std::expected<Digest, DigestFailure> Sha256::finish() {
  Digest digest{};
  unsigned int len = 0;
  if (failure_.empty() && started() && (EVP_DigestFinal_ex(ctx_, digest.data(), &len) != 1 || len != digest.size())) {
    fail();
  }
  if (!failure_.empty()) return std::unexpected(failure_);
  return digest;
}

namespace {

// The two hex digits of every byte value, so that a digest's text takes one
// copy per byte instead of two lookups and two shifts.
constexpr std::array<std::array<char, 2>, 256> kHexPairs = [] {
  constexpr char kHexDigits[] = "0123456789abcdef";
  std::array<std::array<char, 2>, 256> pairs{};
  for (std::size_t byte = 0; byte < pairs.size(); ++byte) {
    pairs[byte] = {kHexDigits[byte >> 4], kHexDigits[byte & 0x0f]};
  }
  return pairs;
}();

}  // namespace

DigestText hex(const Digest& digest) {
  DigestText text;
  for (std::size_t i = 0; i < digest.size(); ++i) std::memcpy(&text.digits_[2 * i], kHexPairs[digest[i]].data(), 2);
  return text;
}

std::expected<DigestText, DigestFailure> sha256_hex(std::string_view bytes) {
  Sha256 sha;
  sha.update(bytes);
  auto digest = sha.finish();
  if (!digest) return std::unexpected(std::move(digest.error()));
  return hex(*digest);
}

}  // namespace velkor::digest
