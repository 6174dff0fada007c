#include "digest/files_digest.h"

#include <gtest/gtest.h>

#include "digest/sha256.h"

namespace velkor::digest {
namespace {

constexpr const char* kEmptyHex = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
constexpr const char* kAbcHex = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

TEST(FilesDigestTest, ListsFilesInPathOrderAndHashesTheListing) {
  FileSet files;
  files["b.txt"] = "abc";
  files["a.txt"] = "";
  const FilesDigest d = digest_files(files).value();
  ASSERT_EQ(d.entries.size(), 2u);
  EXPECT_EQ(d.entries[0].path, "a.txt");
  EXPECT_EQ(d.entries[0].sha256, kEmptyHex);
  EXPECT_EQ(d.entries[0].bytes_len, 0u);
  EXPECT_EQ(d.entries[1].path, "b.txt");
  EXPECT_EQ(d.entries[1].sha256, kAbcHex);
  EXPECT_EQ(d.entries[1].bytes_len, 3u);
  EXPECT_EQ(d.project_hash, "daf952cfaadc1b5749d748d139805d7752ea00940f81063ac5524ca253639b3f");
  EXPECT_EQ(d.project_hash, sha256_hex(std::string("a.txt\n") + kEmptyHex + "\nb.txt\n" + kAbcHex + "\n"));
}

TEST(FilesDigestTest, KnownDigestsAreTakenAsGiven) {
  FileSet files{{"a.txt", ""}, {"b.txt", "abc"}};
  const FilesDigest d = digest_files(files, {{"b.txt", kAbcHex}}).value();
  EXPECT_EQ(d.project_hash, "daf952cfaadc1b5749d748d139805d7752ea00940f81063ac5524ca253639b3f");
  EXPECT_EQ(d.entries[1].bytes_len, 3u);
}

TEST(FilesDigestTest, EmptySetHashesNothing) {
  const FilesDigest d = digest_files({}).value();
  EXPECT_EQ(d.project_hash, kEmptyHex);
  EXPECT_TRUE(d.entries.empty());
}

TEST(FilesDigestTest, PathsOrderByUnsignedBytes) {
  // '.' (0x2e) < '/' (0x2f) < 'Z' < 'a' < any byte of a multi-byte character.
  FileSet files{{"\xc3\xa4.rs", "1"}, {"a", "2"}, {"a/b", "3"}, {"a.txt", "4"}, {"Z", "5"}};
  std::vector<std::string> paths;
  std::string listing;
  const FilesDigest d = digest_files(files).value();
  for (const FileEntry& e : d.entries) {
    paths.push_back(e.path);
    listing += e.path + "\n" + e.sha256 + "\n";
  }
  EXPECT_EQ(paths, (std::vector<std::string>{"Z", "a", "a.txt", "a/b", "\xc3\xa4.rs"}));
  EXPECT_EQ(d.project_hash, sha256_hex(listing));
}

}  // namespace
}  // namespace velkor::digest
