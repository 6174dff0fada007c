#include "digest/sha256.h"

#include <openssl/evp.h>

#include <new>

namespace velkor::digest {

Sha256::Sha256() : ctx_(EVP_MD_CTX_new()) {
  if (ctx_ == nullptr || EVP_DigestInit_ex(ctx_, EVP_sha256(), nullptr) != 1) {
    EVP_MD_CTX_free(ctx_);
    throw std::bad_alloc();
  }
}

Sha256::~Sha256() { EVP_MD_CTX_free(ctx_); }

void Sha256::update(std::string_view bytes) {
  if (!bytes.empty()) EVP_DigestUpdate(ctx_, bytes.data(), bytes.size());
}

Digest Sha256::finish() {
  Digest digest{};
  unsigned int len = 0;
  EVP_DigestFinal_ex(ctx_, digest.data(), &len);
  return digest;
}

std::string hex(const Digest& digest) {
  static constexpr char kHexDigits[] = "0123456789abcdef";
  std::string text(64, '0');
  for (std::size_t i = 0; i < digest.size(); ++i) {
    text[2 * i] = kHexDigits[digest[i] >> 4];
    text[2 * i + 1] = kHexDigits[digest[i] & 0x0f];
  }
  return text;
}

std::string sha256_hex(std::string_view bytes) {
  Sha256 sha;
  sha.update(bytes);
  return hex(sha.finish());
}

}  // namespace velkor::digest
