#include "project/write_project.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/test_support_files.h"

namespace velkor::project {
namespace {

namespace fs = std::filesystem;

const FileSet kWasmFiles = {
    {".cargo/config.toml", "[build]\ntarget = \"wasm32-unknown-unknown\"\n"},
    {"Cargo.toml", "[package]\n"},
    {"src/lib.rs", "//! lib\n"},
    {"src/spec.json", "{\"symbol\":\"\xC3\xA4\"}"},
};
const FileSet kBinaryFiles = {{"Cargo.toml", "[package]\nname = \"demo\"\n"}, {"src/main.rs", "fn main() {}\n"}};

// `message` with each {P} replaced by `project`.
std::string with_project(std::string message, const std::string& project) {
  for (std::size_t at; (at = message.find("{P}")) != std::string::npos;) message.replace(at, 3, project);
  return message;
}

mode_t mode_of(const std::string& path) {
  struct stat st = {};
  ::stat(path.c_str(), &st);
  return st.st_mode & 07777;
}

TEST(WriteProject, WritesEveryFileAndLeavesOthersAlone) {
  TempDir dir;
  const std::string out = dir.path() + "/a/b", project = out + "/demo";  // missing ancestors are created
  fs::create_directories(project + "/src");
  std::ofstream(project + "/src/lib.rs") << "an older and much longer text that must be truncated away";
  std::ofstream(project + "/notes.txt") << "keep me";
  const mode_t old_mask = ::umask(022);
  auto written = write_project(out, "demo", kWasmFiles);
  ::umask(old_mask);
  ASSERT_TRUE(written.has_value()) << written.error().message;
  for (const auto& [path, content] : kWasmFiles) EXPECT_EQ(read_file(project + "/" + path), content) << path;
  EXPECT_EQ(read_file(project + "/notes.txt"), "keep me");
  EXPECT_EQ(mode_of(project + "/.cargo"), 0755u);
  EXPECT_EQ(mode_of(project + "/Cargo.toml"), 0644u);
}

// Each case plants something, then writes kWasmFiles (`first` empty) or
// writes kWasmFiles, plants, and writes kBinaryFiles over it. A project written
// over another target's keeps none of its generated files (a leftover
// .cargo/config.toml or src/lib.rs changes what cargo builds); links are never
// followed and nothing that is not a generated file is touched.
TEST(WriteProject, FaultsLinksAndStaleFiles) {
  struct Case {
    const char* name;
    bool over_wasm;
    void (*arrange)(const std::string& project);
    std::string error;  // with {P} for the project directory; empty: success
    std::vector<std::string> present, absent;
  } const cases[] = {
      {"project dir is a regular file", false, [](const std::string& p) { std::ofstream(p) << "x"; },
       "creating {P}/.cargo: Not a directory (os error 20)", {}, {"Cargo.toml"}},
      {"Cargo.toml is a directory", false, [](const std::string& p) { fs::create_directories(p + "/Cargo.toml"); },
       "writing {P}/Cargo.toml: Is a directory (os error 21)", {".cargo/config.toml"}, {"src/lib.rs"}},
      {"src is a link to another folder", false,
       [](const std::string& p) {
         fs::create_directories(p + "/../elsewhere");
         fs::create_directories(p);
         fs::create_directory_symlink("../elsewhere", p + "/src");
       },
       "creating {P}/src: File exists (os error 17)", {"Cargo.toml"}, {"src/lib.rs", "../elsewhere/lib.rs"}},
      {"only generated files go", true,
       [](const std::string& p) {
         fs::create_directories(p + "/target/debug");
         std::ofstream(p + "/target/debug/demo") << "cargo's";
         std::ofstream(p + "/notes.txt") << "user's";
         std::ofstream(p + "/src/helper.rs") << "user's";
       },
       "", {"src/main.rs", "target/debug/demo", "notes.txt", "src/helper.rs"}, {"src/lib.rs", ".cargo"}},
      {".cargo keeps other files", true,
       [](const std::string& p) { std::ofstream(p + "/.cargo/extra.toml") << "user's"; }, "", {".cargo/extra.toml"},
       {".cargo/config.toml", "src/lib.rs"}},
      {"a link at a stale place is removed, its target kept", true,
       [](const std::string& p) {
         std::ofstream(p + "/../kept.rs") << "outside";
         fs::remove(p + "/src/lib.rs");
         fs::create_symlink("../../kept.rs", p + "/src/lib.rs");
       },
       "", {"../kept.rs"}, {"src/lib.rs"}},
      {"a linked .cargo is not looked into", true,
       [](const std::string& p) {
         fs::create_directories(p + "/../shared");
         std::ofstream(p + "/../shared/config.toml") << "outside";
         fs::remove_all(p + "/.cargo");
         fs::create_directory_symlink("../shared", p + "/.cargo");
       },
       "", {"../shared/config.toml", ".cargo"}, {"src/lib.rs"}},
      {"a directory at a stale place", true,
       [](const std::string& p) {
         fs::remove(p + "/src/lib.rs");
         fs::create_directories(p + "/src/lib.rs");
       },
       "removing {P}/src/lib.rs: Is a directory (os error 21)", {"src/lib.rs"}, {"src/main.rs"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string out = dir.path() + "/_out", project = out + "/demo";
    fs::create_directories(out);
    if (c.over_wasm) ASSERT_TRUE(write_project(out, "demo", kWasmFiles).has_value());
    c.arrange(project);
    const FileSet& files = c.over_wasm ? kBinaryFiles : kWasmFiles;
    auto written = write_project(out, "demo", files);
    if (c.error.empty()) {
      ASSERT_TRUE(written.has_value()) << written.error().message;
      EXPECT_EQ(read_file(project + "/Cargo.toml"), files.at("Cargo.toml"));
    } else {
      ASSERT_FALSE(written.has_value());
      EXPECT_EQ(written.error().kind, CompileErrorKind::kIo);
      EXPECT_EQ(written.error().message, with_project(c.error, project));
    }
    for (const std::string& path : c.present) EXPECT_TRUE(fs::exists(fs::symlink_status(project + "/" + path))) << path;
    for (const std::string& path : c.absent) EXPECT_FALSE(fs::exists(fs::symlink_status(project + "/" + path))) << path;
    for (const char* outside : {"/../kept.rs", "/../shared/config.toml"}) {
      if (fs::exists(project + outside)) EXPECT_EQ(read_file(project + outside), "outside");
    }
  }
}

// A NUL would cut the path short and write somewhere else.
TEST(WriteProject, NulInOutputDirectory) {
  TempDir dir;
  const std::string out = dir.path() + std::string("/x\0y", 4);
  auto written = write_project(out, "demo", kWasmFiles);
  ASSERT_FALSE(written.has_value());
  EXPECT_EQ(written.error().message, "creating " + out + "/demo/.cargo: file name contained an unexpected NUL byte");
  EXPECT_FALSE(fs::exists(dir.path() + "/x"));
}

}  // namespace
}  // namespace velkor::project
