#include "project/write_project.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

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

TEST_F(WriteProjectTest, ProjectDirectory) {
  EXPECT_EQ(project_dir("_out", "demo"), "_out/demo");
  EXPECT_EQ(project_dir("_out/", "demo"), "_out/demo");
  EXPECT_EQ(project_dir("", "demo"), "demo");
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
      {"device refuses the bytes",
       [](const std::string& p) {
         fs::create_directories(p + "/src");
         fs::create_symlink("/dev/full", p + "/src/lib.rs");
       },
       "writing {P}/src/lib.rs: No space left on device (os error 28)", "Cargo.toml", "src/spec.json"},
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
