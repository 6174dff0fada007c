#include "support/replace_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/test_support_files.h"

namespace velkor {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> names_in(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Whatever is at a file's place is replaced, never opened: the faults this
// catches are writes through a planted link (to another file or a missing
// one), a FIFO that blocks the writer, a hard link whose other name changes
// too, and a temporary file left behind by a failed rename.
TEST(ReplaceFile, WhatLiesAtThePlaceIsReplaced) {
  struct Case {
    const char* name;
    void (*plant)(const std::string& dir);  // puts something at dir/f
    std::string error;                      // empty: the file is replaced
    std::vector<std::string> names;         // the directory afterwards
  } const cases[] = {
      {"link to another file",
       [](const std::string& d) {
         std::ofstream(d + "/other") << "other";
         fs::create_symlink("other", d + "/f");
       },
       "", {"f", "other"}},
      {"dangling link", [](const std::string& d) { fs::create_symlink("missing", d + "/f"); }, "", {"f"}},
      {"FIFO without a reader", [](const std::string& d) { ASSERT_EQ(::mkfifo((d + "/f").c_str(), 0666), 0); }, "",
       {"f"}},
      {"hard link",
       [](const std::string& d) {
         std::ofstream(d + "/other") << "other";
         fs::create_hard_link(d + "/other", d + "/f");
       },
       "", {"f", "other"}},
      {"directory with a file",
       [](const std::string& d) {
         fs::create_directory(d + "/f");
         std::ofstream(d + "/f/other") << "other";
       },
       "Is a directory (os error 21)", {"f"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir temp;
    const std::string& dir = temp.path();
    c.plant(dir);
    auto replaced = replace_file(dir + "/f", "new content");
    if (c.error.empty()) {
      ASSERT_TRUE(replaced.has_value()) << replaced.error();
      EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir + "/f")));
      EXPECT_EQ(read_file(dir + "/f"), "new content");
    } else {
      ASSERT_FALSE(replaced.has_value());
      EXPECT_EQ(replaced.error(), c.error);
    }
    // No temporary file is left, and no other file changed.
    EXPECT_EQ(names_in(dir), c.names);
    if (fs::exists(dir + "/other")) EXPECT_EQ(read_file(dir + "/other"), "other");
    if (fs::exists(dir + "/f/other")) EXPECT_EQ(read_file(dir + "/f/other"), "other");
  }
}

// A replaced file keeps its permission bits whatever the umask: a private
// file must not become readable by others, nor a script lose its x bit.
TEST(ReplaceFile, KeepsTheModeOfTheFileItReplaces) {
  const mode_t old_mask = ::umask(022);
  for (const fs::perms mode : {fs::perms(0600), fs::perms(0750), fs::perms(0664)}) {
    TempDir temp;
    const std::string path = temp.path() + "/f";
    std::ofstream(path) << "old";
    fs::permissions(path, mode);
    ASSERT_TRUE(replace_file(path, "new").has_value());
    EXPECT_EQ(fs::status(path).permissions(), mode);
    EXPECT_EQ(read_file(path), "new");
  }
  ::umask(old_mask);
}

// A privileged process (a compile run under sudo) gives the file back to its
// owner, so that the owner can still write it on the next compile.
TEST(ReplaceFile, KeepsTheOwnerWhenItMayGiveTheFileBack) {
  if (::geteuid() != 0) GTEST_SKIP() << "only a privileged process may give a file away";
  constexpr uid_t kOwner = 65534;
  TempDir temp;
  const std::string path = temp.path() + "/f";
  std::ofstream(path) << "old";
  ASSERT_EQ(::chown(path.c_str(), kOwner, kOwner), 0);
  ASSERT_EQ(::chmod(path.c_str(), 04755), 0);  // chown cleared set-id bits; they come back with the mode
  ASSERT_TRUE(replace_file(path, "new").has_value());
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, kOwner);
  EXPECT_EQ(st.st_gid, kOwner);
  EXPECT_EQ(st.st_mode & 07777, 04755u);
  EXPECT_EQ(read_file(path), "new");
}

}  // namespace
}  // namespace velkor
