#include "support/replace_file.h"

#include <gtest/gtest.h>
#include <fcntl.h>
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


// An old time stamp, set on a file before an update so that a rewrite shows.
constexpr time_t kOldTime = 1'000'000'000;

void set_old_time(const std::string& path) {
  const struct timespec times[2] = {{kOldTime, 0}, {kOldTime, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
}

// A file that already holds the new bytes keeps its inode and modification
// time (so cargo sees nothing to rebuild); every other file is replaced as
// replace_file replaces it. The faults this catches: an unchanged file
// rewritten, a file compared by size or by a prefix only, a link or a
// hard-linked file left in place because the bytes it leads to match.
TEST(UpdateFile, LeavesOnlyAFileThatHoldsTheBytesAlready) {
  const std::string big(200'000, 'x');
  std::string big_changed_at_end = big;
  big_changed_at_end.back() = 'y';
  struct Case {
    const char* name;
    std::string old_content;  // the file at f before
    std::string content;      // what is written
    void (*arrange)(const std::string& dir);  // after f is planted; may be null
    bool unchanged;
  } const cases[] = {
      {"same bytes", "fn main() {}\n", "fn main() {}\n", nullptr, true},
      {"both empty", "", "", nullptr, true},
      {"same bytes, larger than one read", big, big, nullptr, true},
      {"differs in the last byte of a large file", big_changed_at_end, big, nullptr, false},
      {"same length, other bytes", "abc", "abd", nullptr, false},
      {"the new bytes are a prefix", "abcdef", "abc", nullptr, false},
      {"the old bytes are a prefix", "abc", "abcdef", nullptr, false},
      {"a link to a file with the same bytes", "same", "same",
       [](const std::string& d) {
         fs::rename(d + "/f", d + "/target");
         fs::create_symlink("target", d + "/f");
       },
       false},
      {"a hard-linked file with the same bytes", "same", "same",
       [](const std::string& d) { fs::create_hard_link(d + "/f", d + "/other"); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir temp;
    const std::string path = temp.path() + "/f";
    std::ofstream(path, std::ios::binary) << c.old_content;
    if (c.arrange != nullptr) c.arrange(temp.path());
    set_old_time(path);
    struct stat before;
    ASSERT_EQ(::lstat(path.c_str(), &before), 0);
    auto updated = update_file(path, c.content);
    ASSERT_TRUE(updated.has_value()) << updated.error();
    EXPECT_EQ(*updated, c.unchanged ? FileUpdate::kUnchanged : FileUpdate::kReplaced);
    struct stat after;
    ASSERT_EQ(::lstat(path.c_str(), &after), 0);
    EXPECT_TRUE(S_ISREG(after.st_mode));
    EXPECT_EQ(read_file(path), c.content);
    EXPECT_EQ(after.st_ino == before.st_ino, c.unchanged);
    EXPECT_EQ(after.st_mtime == kOldTime, c.unchanged);
    // Other names keep what they held.
    if (fs::exists(temp.path() + "/other")) EXPECT_EQ(read_file(temp.path() + "/other"), c.old_content);
    if (fs::exists(temp.path() + "/target")) EXPECT_EQ(read_file(temp.path() + "/target"), c.old_content);
  }
}

// A file the caller may not write is not left in place because its bytes
// match: the update fails as a replacement would, so a compile reports it
// whatever the file holds.
TEST(UpdateFile, AFileTheCallerMayNotWriteIsAnErrorEvenWithTheSameBytes) {
  TempDir temp;
  const std::string path = temp.path() + "/f";
  std::ofstream(path) << "same";
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  const std::string outcome = run_unprivileged(temp.path(), [&] {
    auto updated = update_file(path, "same");
    return updated ? std::string("updated") : updated.error();
  });
  EXPECT_EQ(outcome, "Permission denied (os error 13)");
}

}  // namespace
}  // namespace velkor
