#include "digest/sha256.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <utility>

#include "digest/background_digest.h"

namespace velkor::digest {
namespace {

TEST(Sha256, MatchesTheStandardVectors) {
  const std::pair<std::string, const char*> cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1'000'000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& [input, expected] : cases) {
    SCOPED_TRACE(input.substr(0, 8));
    EXPECT_EQ(sha256_hex(input), expected);
    // Fed in uneven pieces, the incremental hash agrees.
    Sha256 sha;
    for (std::size_t at = 0, step = 1; at < input.size(); at += step, step = step * 3 + 1) {
      sha.update(std::string_view(input).substr(at, step));
    }
    EXPECT_EQ(hex(sha.finish().value()), expected);
    // On a worker thread, which starts partway and takes over what was
    // hashed in place, it agrees too.
    Sha256 threaded;
    Sha256* const digests[] = {&threaded};
    {
      BackgroundDigest worker(digests, 1000);
      for (std::size_t at = 0, step = 1; at < input.size(); at += step, step = step * 3 + 1) {
        worker.update(std::string_view(input).substr(at, step));
      }
    }
    EXPECT_EQ(hex(threaded.finish().value()), expected);
  }
}

// A piece that cannot be copied for the worker (here too long for a string,
// which is refused before a byte is read) fails its update; the worker goes on
// with every slot, and the pieces handed over are hashed.
TEST(BackgroundDigest, APieceThatCannotBeCopiedLeavesItsSlotFree) {
  Sha256 sha;
  Sha256* const digests[] = {&sha};
  {
    BackgroundDigest worker(digests, 0);
    worker.update("a");
    const std::string_view too_long("", std::string().max_size() + 1);
    for (int i = 0; i < 8; ++i) EXPECT_THROW(worker.update(too_long), std::length_error);
    worker.update("bc");
  }
  EXPECT_EQ(hex(sha.finish().value()), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(Hex, WritesEveryByteValueAsTwoLowercaseDigits) {
  // Eight digests cover the 256 byte values, each at a different place.
  for (std::size_t first = 0; first < 256; first += 32) {
    Digest digest{};
    std::string expected;
    for (std::size_t i = 0; i < digest.size(); ++i) {
      digest[i] = static_cast<std::uint8_t>(first + i);
      char pair[3];
      std::snprintf(pair, sizeof pair, "%02x", digest[i]);
      expected += pair;
    }
    EXPECT_EQ(hex(digest), expected);
  }
}

constexpr char kAbc[] = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

std::string text_of(const std::expected<Digest, DigestFailure>& digest) {
  return digest ? std::string(hex(*digest).view()) : "failed: " + digest.error();
}

// Runs `observe` in a process of its own (the death test runs this binary
// afresh), where no digest was made before: the SHA-256 implementation is
// looked up once per process and then kept. What it saw goes to stderr.
void expect_in_fresh_process(std::string (*observe)(), const std::string& expected) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        const std::string seen = observe();
        std::fprintf(stderr, "saw: %s\nexpected: %s\n", seen.c_str(), expected.c_str());
        std::_Exit(seen == expected ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

TEST(Sha256DeathTest, AFailureIsReportedNeverMadeUpAndNotKept) {
  expect_in_fresh_process(
      [] {
        // Properties that no loaded implementation has (no FIPS provider is loaded).
        EVP_set_default_properties(library_context(), "fips=yes");
        Sha256 incremental;
        incremental.update("abc");
        std::string seen = text_of(incremental.finish());
        const auto once = sha256_hex("abc");
        seen += once ? "; made up" : "; " + once.error();
        EVP_set_default_properties(library_context(), "");
        seen += "; " + std::string(sha256_hex("abc").value_or(DigestText()).view());
        // The digest that failed starts again and succeeds.
        incremental.restart();
        incremental.update("abc");
        return seen + "; " + text_of(incremental.finish());
      },
      std::string("failed: unsupported; unsupported; ") + kAbc + "; " + kAbc);
}

TEST(Sha256DeathTest, TheProcessConfigurationDoesNotReachTheDigests) {
  expect_in_fresh_process(
      [] {
        // What a configuration file's default properties do to the process's
        // default context; the digests' context is another.
        EVP_set_default_properties(nullptr, "fips=yes");
        return text_of([] { Sha256 sha; sha.update("abc"); return sha.finish(); }());
      },
      kAbc);
}

}  // namespace
}  // namespace velkor::digest
