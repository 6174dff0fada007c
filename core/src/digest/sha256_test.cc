#include "digest/sha256.h"

#include <gtest/gtest.h>

#include <string>

#include "support/test_support_names.h"

namespace velkor::digest {
namespace {

struct DigestCase {
  std::string input;
  const char* hex;
};

class Sha256HexTest : public testing::TestWithParam<DigestCase> {};

TEST_P(Sha256HexTest, MatchesTheStandardVectors) {
  EXPECT_EQ(sha256_hex(GetParam().input), GetParam().hex);
  // Fed in uneven pieces, the incremental hash agrees.
  Sha256 sha;
  const std::string& input = GetParam().input;
  for (std::size_t at = 0, step = 1; at < input.size(); at += step, step = step * 3 + 1) {
    sha.update(std::string_view(input).substr(at, step));
  }
  EXPECT_EQ(hex(sha.finish().value()), GetParam().hex);
}

INSTANTIATE_TEST_SUITE_P(
    Fips180, Sha256HexTest,
    testing::Values(DigestCase{"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
                    DigestCase{"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
                    DigestCase{"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
                               "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
                    DigestCase{std::string(1'000'000, 'a'),
                               "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"}),
    [](const auto& info) { return test_row_name(info.index, info.param.input); });

TEST(HexTest, TwoLowercaseDigitsPerByteHighNibbleFirst) {
  Digest d{};
  d[0] = 0x0f;
  d[1] = 0xa0;
  d[31] = 0xff;
  EXPECT_EQ(hex(d), "0fa0" + std::string(58, '0') + "ff");
}

}  // namespace
}  // namespace velkor::digest
