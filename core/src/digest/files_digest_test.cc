#include "digest/files_digest.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace velkor::digest {
namespace {

constexpr const char* kEmptyHex = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
constexpr const char* kAbcHex = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

// The golden hash is SHA-256 of "a.txt\n<empty digest>\nb.txt\n<abc digest>\n";
// a digest given as known is taken as it is, whether the content is held or not.
TEST(FilesDigest, ListsFilesInPathOrderAndHashesTheListing) {
  for (int known : {0, 1, 2}) {
    const FileSet files = known == 2 ? FileSet{{"a.txt", ""}} : FileSet{{"b.txt", "abc"}, {"a.txt", ""}};
    const FilesDigest d =
        known > 0 ? digest_files(files, {{"b.txt", {kAbcHex, 3}}}).value() : digest_files(files).value();
    ASSERT_EQ(d.entries.size(), 2u);
    EXPECT_EQ((std::tuple{d.entries[0].path, d.entries[0].sha256, d.entries[0].bytes_len}),
              (std::tuple{"a.txt", kEmptyHex, 0u}));
    EXPECT_EQ((std::tuple{d.entries[1].path, d.entries[1].sha256, d.entries[1].bytes_len}),
              (std::tuple{"b.txt", kAbcHex, 3u}));
    EXPECT_EQ(d.project_hash, "daf952cfaadc1b5749d748d139805d7752ea00940f81063ac5524ca253639b3f");
  }
  EXPECT_EQ(digest_files({}).value().project_hash, kEmptyHex);
}

TEST(FilesDigestTest, PathsOrderByUnsignedBytes) {
  // '.' (0x2e) < '/' (0x2f) < 'Z' < 'a' < any byte of a multi-byte character.
  const FilesDigest d =
      digest_files({{"\xc3\xa4.rs", "1"}, {"a", "2"}, {"a/b", "3"}, {"a.txt", "4"}, {"Z", "5"}}).value();
  std::vector<std::string> paths;
  for (const FileEntry& e : d.entries) paths.push_back(e.path);
  EXPECT_EQ(paths, (std::vector<std::string>{"Z", "a", "a.txt", "a/b", "\xc3\xa4.rs"}));
  EXPECT_EQ(d.project_hash, "2236a6be66f42de710cff3ed09e539928e6d6e51f0b5c333ff929bd4582f396b");
}

}  // namespace
}  // namespace velkor::digest
