#include "project/write_project.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace velkor::project {
namespace {

namespace fs = std::filesystem;

class WriteProjectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/velkor_write_project_XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    root_ = tmpl;
    out_ = root_ + "/_out";
  }
  void TearDown() override { fs::remove_all(root_); }

  static std::string read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  std::string root_;
  std::string out_;
};

FileSet sample_files() {
  return {
      {".cargo/config.toml", "[build]\ntarget = \"wasm32-unknown-unknown\"\n"},
      {"Cargo.toml", "[package]\n"},
      {"src/lib.rs", "//! lib\n"},
      {"src/spec.json", "{\"symbol\":\"\xC3\xA4\"}"},
  };
}

TEST_F(WriteProjectTest, WritesEveryFileAndLeavesOthersAlone) {
  fs::create_directories(out_ + "/demo/src");
  std::ofstream(out_ + "/demo/src/lib.rs") << "an older and much longer text that must be truncated away";
  std::ofstream(out_ + "/demo/notes.txt") << "keep me";
  const mode_t old_mask = ::umask(022);
  auto written = write_project(out_, "demo", sample_files());
  ::umask(old_mask);
  ASSERT_TRUE(written.has_value()) << written.error().message;
  for (const auto& [path, content] : sample_files()) EXPECT_EQ(read(out_ + "/demo/" + path), content) << path;
  EXPECT_EQ(read(out_ + "/demo/notes.txt"), "keep me");
  struct stat st;
  ASSERT_EQ(::stat((out_ + "/demo/.cargo").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0755u);
  ASSERT_EQ(::stat((out_ + "/demo/Cargo.toml").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
  // Writing the same set again is fine.
  EXPECT_TRUE(write_project(out_, "demo", sample_files()).has_value());
}

TEST_F(WriteProjectTest, Failures) {
  struct Case {
    const char* name;
    void (*arrange)(const std::string& project);
    std::string message;  // with {P} standing for the project directory
    const char* written;  // a file that must exist afterwards, or nullptr
    const char* absent;   // a file that must not have been written
  } const cases[] = {
      {"project dir is a regular file",
       [](const std::string& p) { std::ofstream(p) << "x"; },
       "creating {P}/.cargo: Not a directory (os error 20)", nullptr, "Cargo.toml"},
      {".cargo is a regular file",
       [](const std::string& p) {
         fs::create_directories(p);
         std::ofstream(p + "/.cargo") << "x";
       },
       "creating {P}/.cargo: File exists (os error 17)", nullptr, "Cargo.toml"},
      {"Cargo.toml is a directory",
       [](const std::string& p) { fs::create_directories(p + "/Cargo.toml"); },
       "writing {P}/Cargo.toml: Is a directory (os error 21)", ".cargo/config.toml", "src/lib.rs"},
      {"a directory with files at src/lib.rs",
       [](const std::string& p) {
         fs::create_directories(p + "/src/lib.rs");
         std::ofstream(p + "/src/lib.rs/keep") << "x";
       },
       "writing {P}/src/lib.rs: Is a directory (os error 21)", "src/lib.rs/keep", "src/spec.json"},
      // Links below the project directory are not followed: nothing lands in
      // the folder src leads to.
      {"src is a link to another folder",
       [](const std::string& p) {
         fs::create_directories(p + "/../elsewhere");
         fs::create_directories(p);
         fs::create_directory_symlink("../elsewhere", p + "/src");
       },
       "creating {P}/src: File exists (os error 17)", "Cargo.toml", "src/lib.rs"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(out_);
    fs::create_directories(out_);
    const std::string project = out_ + "/demo";
    c.arrange(project);
    auto written = write_project(out_, "demo", sample_files());
    ASSERT_FALSE(written.has_value());
    EXPECT_EQ(written.error().kind, CompileErrorKind::kIo);
    std::string expected = c.message;
    expected.replace(expected.find("{P}"), 3, project);
    EXPECT_EQ(written.error().message, expected);
    if (c.written) EXPECT_TRUE(fs::exists(project + "/" + c.written));
    EXPECT_FALSE(fs::exists(project + "/" + c.absent));
  }
}

FileSet binary_files() {
  return {{"Cargo.toml", "[package]\nname = \"demo\"\n"}, {"src/main.rs", "fn main() {}\n"}, {"src/spec.json", "{}"}};
}

// A project written over one generated for another target keeps none of the
// old target's files (a leftover .cargo/config.toml or src/lib.rs changes
// what cargo builds), and nothing that is not a generated file is touched.
TEST_F(WriteProjectTest, StaleGeneratedFiles) {
  struct Case {
    const char* name;
    void (*arrange)(const std::string& project);  // after the wasm-like set is written
    std::string error;                            // with {P} for the project directory; empty: success
    std::vector<std::string> present;             // relative to the project, afterwards
    std::vector<std::string> absent;
  } const cases[] = {
      {"only generated files go",
       [](const std::string& p) {
         fs::create_directories(p + "/target/debug");
         std::ofstream(p + "/target/debug/demo") << "cargo's";
         std::ofstream(p + "/notes.txt") << "user's";
         std::ofstream(p + "/src/helper.rs") << "user's";
       },
       "",
       {"src/main.rs", "target/debug/demo", "notes.txt", "src/helper.rs"},
       {"src/lib.rs", ".cargo"}},
      {".cargo keeps other files",
       [](const std::string& p) { std::ofstream(p + "/.cargo/extra.toml") << "user's"; },
       "",
       {".cargo/extra.toml"},
       {".cargo/config.toml", "src/lib.rs"}},
      {"a link at a stale place is removed, its target kept",
       [](const std::string& p) {
         std::ofstream(p + "/../kept.rs") << "outside";
         fs::remove(p + "/src/lib.rs");
         fs::create_symlink("../../kept.rs", p + "/src/lib.rs");
       },
       "",
       {"../kept.rs"},
       {"src/lib.rs"}},
      {"a linked .cargo is not looked into",
       [](const std::string& p) {
         fs::create_directories(p + "/../shared");
         std::ofstream(p + "/../shared/config.toml") << "outside";
         fs::remove_all(p + "/.cargo");
         fs::create_directory_symlink("../shared", p + "/.cargo");
       },
       "",
       {"../shared/config.toml", ".cargo"},
       {"src/lib.rs"}},
      {"a directory at a stale place",
       [](const std::string& p) {
         fs::remove(p + "/src/lib.rs");
         fs::create_directories(p + "/src/lib.rs");
       },
       "removing {P}/src/lib.rs: Is a directory (os error 21)",
       {"src/lib.rs"},
       {"src/main.rs"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(out_);
    const std::string project = out_ + "/demo";
    ASSERT_TRUE(write_project(out_, "demo", sample_files()).has_value());
    c.arrange(project);
    auto written = write_project(out_, "demo", binary_files());
    if (c.error.empty()) {
      ASSERT_TRUE(written.has_value()) << written.error().message;
      EXPECT_EQ(read(project + "/Cargo.toml"), binary_files().at("Cargo.toml"));
    } else {
      EXPECT_EQ(read(project + "/Cargo.toml"), sample_files().at("Cargo.toml"));  // nothing written yet
      ASSERT_FALSE(written.has_value());
      EXPECT_EQ(written.error().kind, CompileErrorKind::kIo);
      std::string expected = c.error;
      expected.replace(expected.find("{P}"), 3, project);
      EXPECT_EQ(written.error().message, expected);
    }
    for (const std::string& path : c.present) EXPECT_TRUE(fs::exists(fs::symlink_status(project + "/" + path))) << path;
    for (const std::string& path : c.absent) EXPECT_FALSE(fs::exists(fs::symlink_status(project + "/" + path))) << path;
    if (fs::exists(project + "/../kept.rs")) EXPECT_EQ(read(project + "/../kept.rs"), "outside");
    if (fs::exists(project + "/../shared/config.toml")) EXPECT_EQ(read(project + "/../shared/config.toml"), "outside");
  }
}

TEST_F(WriteProjectTest, MissingAncestorsAreCreated) {
  const std::string deep = root_ + "/a/b/c";
  ASSERT_TRUE(write_project(deep, "demo", sample_files()).has_value());
  EXPECT_EQ(read(deep + "/demo/src/lib.rs"), "//! lib\n");
}

TEST_F(WriteProjectTest, NulInOutputDirectory) {
  const std::string out = root_ + std::string("/x\0y", 4);
  auto written = write_project(out, "demo", sample_files());
  ASSERT_FALSE(written.has_value());
  EXPECT_EQ(written.error().message,
            "creating " + out + "/demo/.cargo: file name contained an unexpected NUL byte");
  EXPECT_FALSE(fs::exists(root_ + "/x"));
}

}  // namespace
}  // namespace velkor::project
