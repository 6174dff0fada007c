#include "project/write_project.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "digest/sha256.h"
#include "project/generated_texts.h"
#include "project/templates.h"
#include "support/test_support_files.h"

namespace velkor::project {
namespace {

namespace fs = std::filesystem;

// The sources and the config file are the texts the compiler generates, so
// that a later compile recognises them.
const FileSet kWasmFiles = {
    {".cargo/config.toml", "[build]\ntarget = \"wasm32-unknown-unknown\"\n"},
    {"Cargo.toml", "[package]\n"},
    {"src/lib.rs", std::string(kWasmLibSource)},
    {"src/spec.json", "{\"symbol\":\"\xC3\xA4\"}"},
};
const FileSet kBinaryFiles = {{"Cargo.toml", "[package]\nname = \"demo\"\n"},
                              {"src/main.rs", std::string(kBinaryMainSource)},
                              {"src/spec.json", "{}"}};

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

void plant(const std::string& path, std::string_view text) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path) << text;
}

// Each case plants something and writes a file set, after writing kWasmFiles
// first when `over_wasm`. A project written
// over another target's keeps none of the files the compiler generated for it
// (a leftover .cargo/config.toml or src/lib.rs changes what cargo builds);
// what the user wrote or edited at those places stays, links are never
// followed and nothing that is not a generated file is touched.
TEST(WriteProject, FaultsLinksAndStaleFiles) {
  struct Case {
    const char* name;
    bool over_wasm;
    const FileSet* writes;
    void (*arrange)(const std::string& project);
    std::string error;  // with {P} for the project directory; empty: success
    std::vector<std::string> present, absent;
  } const cases[] = {
      {"project dir is a regular file", false, &kWasmFiles, [](const std::string& p) { std::ofstream(p) << "x"; },
       "creating {P}/.cargo: Not a directory (os error 20)", {}, {"Cargo.toml"}},
      {"Cargo.toml is a directory", false, &kWasmFiles, [](const std::string& p) { fs::create_directories(p + "/Cargo.toml"); },
       "writing {P}/Cargo.toml: Is a directory (os error 21)", {".cargo/config.toml"}, {"src/lib.rs"}},
      {"src is a link to another folder", false, &kWasmFiles,
       [](const std::string& p) {
         fs::create_directories(p + "/../elsewhere");
         fs::create_directories(p);
         fs::create_directory_symlink("../elsewhere", p + "/src");
       },
       "creating {P}/src: File exists (os error 17)", {"Cargo.toml"}, {"src/lib.rs", "../elsewhere/lib.rs"}},
      {"only generated files go", true, &kBinaryFiles,
       [](const std::string& p) {
         fs::create_directories(p + "/target/debug");
         std::ofstream(p + "/target/debug/demo") << "cargo's";
         std::ofstream(p + "/notes.txt") << "user's";
         std::ofstream(p + "/src/helper.rs") << "user's";
         std::ofstream(p + "/src/candles.csv") << "ts,open\n";
       },
       "", {"src/main.rs", "target/debug/demo", "notes.txt", "src/helper.rs", "src/candles.csv"},
       {"src/lib.rs", ".cargo"}},
      {".cargo keeps other files", true, &kBinaryFiles,
       [](const std::string& p) { std::ofstream(p + "/.cargo/extra.toml") << "user's"; }, "", {".cargo/extra.toml"},
       {".cargo/config.toml", "src/lib.rs"}},
      {"the user's files at generated places stay", false, &kBinaryFiles,
       [](const std::string& p) {
         plant(p + "/src/lib.rs", "pub fn mine() {}\n");
         plant(p + "/.cargo/config.toml", "[build]\ntarget = \"x86_64-unknown-linux-gnu\"\n");
         plant(p + "/src/candles.csv", "ts,open\n");
       },
       "", {"src/lib.rs", ".cargo/config.toml", "src/candles.csv"}, {}},
      {"an edited generated file stays", true, &kBinaryFiles,
       [](const std::string& p) { std::ofstream(p + "/src/lib.rs", std::ios::app) << "// mine\n"; }, "",
       {"src/lib.rs"}, {".cargo"}},
      {"every target's generated texts go", false, &kBinaryFiles,
       [](const std::string& p) {
         plant(p + "/src/lib.rs", kNoStdLibSource);
         plant(p + "/.cargo/config.toml", "[build]\ntarget = \"riscv32imac-unknown-none-elf\"\n");
       },
       "", {"src/main.rs"}, {"src/lib.rs", ".cargo"}},
      {"an earlier version's no_std source goes", false, &kBinaryFiles,
       [](const std::string& p) { plant(p + "/src/lib.rs", earlier_generated_texts()[0].text); }, "",
       {"src/main.rs"}, {"src/lib.rs"}},
      {"an earlier version's no_std source, edited, stays", false, &kBinaryFiles,
       [](const std::string& p) { plant(p + "/src/lib.rs", std::string(earlier_generated_texts()[0].text) + "\n"); },
       "", {"src/lib.rs"}, {}},
      {"a link at a stale place stays, its target too", true, &kBinaryFiles,
       [](const std::string& p) {
         plant(p + "/../kept.rs", kWasmLibSource);
         fs::remove(p + "/src/lib.rs");
         fs::create_symlink("../../kept.rs", p + "/src/lib.rs");
       },
       "", {"../kept.rs", "src/lib.rs"}, {".cargo"}},
      {"a linked .cargo is not looked into", true, &kBinaryFiles,
       [](const std::string& p) {
         plant(p + "/../shared/config.toml", "[build]\ntarget = \"wasm32-unknown-unknown\"\n");
         fs::remove_all(p + "/.cargo");
         fs::create_directory_symlink("../shared", p + "/.cargo");
       },
       "", {"../shared/config.toml", ".cargo"}, {"src/lib.rs"}},
      {"a directory at a stale place stays", true, &kBinaryFiles,
       [](const std::string& p) {
         fs::remove(p + "/src/lib.rs");
         fs::create_directories(p + "/src/lib.rs");
       },
       "", {"src/lib.rs", "src/main.rs"}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string out = dir.path() + "/_out", project = out + "/demo";
    fs::create_directories(out);
    if (c.over_wasm) ASSERT_TRUE(write_project(out, "demo", kWasmFiles).has_value());
    c.arrange(project);
    const FileSet& files = *c.writes;
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
    if (fs::exists(project + "/../kept.rs")) EXPECT_EQ(read_file(project + "/../kept.rs"), kWasmLibSource);
    if (fs::exists(project + "/../shared/config.toml")) {
      EXPECT_EQ(read_file(project + "/../shared/config.toml"), kWasmFiles.at(".cargo/config.toml"));
    }
  }
}

// What the user may not change stops the compile, and nothing is removed
// before every file is written: a failed compile leaves the files that were
// there. Run as an unprivileged user, for whom permission bits count.
TEST(WriteProject, PermissionsAndWhatAFailureLeaves) {
  struct Case {
    const char* name;
    const char* read_only;  // made 0555 (a folder) or 0444 (a file), relative to the project
    std::string error;
    const char* written;  // a file of kBinaryFiles written before the failure, or ""
  } const cases[] = {
      {"project folder takes no new file", "", "writing {P}/Cargo.toml: Permission denied (os error 13)", ""},
      {"a generated file made read-only", "src/spec.json", "writing {P}/src/spec.json: Permission denied (os error 13)",
       "src/main.rs"},
      {"a stale file that cannot be removed", ".cargo",
       "removing {P}/.cargo/config.toml: Permission denied (os error 13)", "src/spec.json"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string out = dir.path() + "/_out", project = out + "/demo";
    ASSERT_TRUE(write_project(out, "demo", kWasmFiles).has_value());
    const std::string locked = project + (*c.read_only ? "/" : "") + c.read_only;
    fs::permissions(locked, fs::is_directory(locked) ? fs::perms(0555) : fs::perms(0444));
    const std::string error = run_unprivileged(dir.path(), [&] {
      auto written = write_project(out, "demo", kBinaryFiles);
      return written ? std::string("written") : written.error().message;
    });
    EXPECT_EQ(error, with_project(c.error, project));
    // What an earlier compile generated is all still there.
    for (const char* path : {".cargo/config.toml", "src/lib.rs"}) {
      EXPECT_EQ(read_file(project + "/" + path), kWasmFiles.at(path)) << path;
    }
    if (fs::is_regular_file(locked)) EXPECT_EQ(read_file(locked), kWasmFiles.at(c.read_only));
    if (*c.written) EXPECT_EQ(read_file(project + "/" + c.written), kBinaryFiles.at(c.written));
  }
}

// Writing the same set again touches nothing: every file keeps its inode and
// modification time, so cargo, which compares times, has nothing to rebuild.
// A file whose bytes changed is replaced; the others still stay as they are.
TEST(WriteProject, AnUnchangedFileKeepsItsModificationTime) {
  TempDir dir;
  const std::string out = dir.path() + "/_out", project = out + "/demo";
  ASSERT_TRUE(write_project(out, "demo", kBinaryFiles).has_value());
  const struct timespec old_times[2] = {{1'000'000'000, 0}, {1'000'000'000, 0}};
  for (const auto& [path, content] : kBinaryFiles) {
    ASSERT_EQ(::utimensat(AT_FDCWD, (project + "/" + path).c_str(), old_times, 0), 0) << path;
  }
  FileSet changed = kBinaryFiles;
  changed["src/spec.json"] = "{\"symbol\":\"eth\"}";
  for (const FileSet* files : {&kBinaryFiles, static_cast<const FileSet*>(&changed)}) {
    ASSERT_TRUE(write_project(out, "demo", *files).has_value());
    for (const auto& [path, content] : *files) {
      struct stat st;
      ASSERT_EQ(::stat((project + "/" + path).c_str(), &st), 0);
      EXPECT_EQ(read_file(project + "/" + path), content) << path;
      const bool rewritten = files == &changed && path == "src/spec.json";
      EXPECT_EQ(st.st_mtime == 1'000'000'000, !rewritten) << path;
    }
  }
}

// A compile killed while writing leaves its temporary file; the next compile
// into the folder removes it, and only it: not one a live compile holds
// locked, nor anything whose name merely resembles one, nor a link.
TEST(WriteProject, RemovesAbandonedTemporaries) {
  TempDir dir;
  const std::string out = dir.path() + "/_out", project = out + "/demo";
  const std::vector<std::string> abandoned = {"src/.candles.csv.tmp-4242-7", ".Cargo.toml.tmp-1-0",
                                              ".cargo/.config.toml.tmp-12-3", "src/.main.rs.tmp-9-9"};
  const std::vector<std::string> kept = {"src/.spec.json.tmp-5-5",  "src/.candles.csv.tmp-1-x", "src/.notes.rs.tmp-1-1",
                                         "src/candles.csv.tmp-1-1", ".src.tmp-1-1",             "src/.lib.rs.tmp-3-3"};
  for (const std::string& name : abandoned) plant(project + "/" + name, std::string(1 << 16, 'x'));
  for (const std::string& name : kept) plant(project + "/" + name, "keep");
  fs::remove(project + "/src/.lib.rs.tmp-3-3");
  fs::create_symlink("../.Cargo.toml.tmp-1-0", project + "/src/.lib.rs.tmp-3-3");
  const int live = ::open((project + "/src/.spec.json.tmp-5-5").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(::flock(live, LOCK_EX), 0);
  auto written = write_project(out, "demo", kWasmFiles);
  ::close(live);
  ASSERT_TRUE(written.has_value()) << written.error().message;
  for (const std::string& name : abandoned) EXPECT_FALSE(fs::exists(project + "/" + name)) << name;
  for (const std::string& name : kept) EXPECT_TRUE(fs::exists(fs::symlink_status(project + "/" + name))) << name;
}

// A dry run's account of a build: what it would replace (anything at a
// path of the set) and remove (what write_project removes), changing nothing.
TEST(WriteProject, PlannedChangesMatchWhatAWriteDoes) {
  TempDir dir;
  const std::string out = dir.path() + "/_out", project = out + "/demo";
  const std::vector<std::string_view> binary_paths = {"Cargo.toml", "src/main.rs", "src/spec.json"};
  EXPECT_TRUE(planned_changes(project, binary_paths).replaced.empty());
  ASSERT_TRUE(write_project(out, "demo", kWasmFiles).has_value());
  plant(project + "/src/main.rs", "fn main() {}\n");  // the user's
  auto planned = planned_changes(project, binary_paths);
  EXPECT_EQ(planned.replaced, (std::vector<std::string>{"Cargo.toml", "src/main.rs", "src/spec.json"}));
  EXPECT_EQ(planned.removed, (std::vector<std::string>{".cargo/config.toml", "src/lib.rs"}));
  EXPECT_TRUE(fs::exists(project + "/src/lib.rs"));
  std::ofstream(project + "/src/lib.rs", std::ios::app) << "\n";
  EXPECT_EQ(planned_changes(project, binary_paths).removed, (std::vector<std::string>{".cargo/config.toml"}));
}

// Earlier versions' texts must never change, or the projects they wrote
// would no longer be recognised: each is pinned by its digest.
TEST(GeneratedTexts, EarlierTextsAreNeverEdited) {
  ASSERT_EQ(earlier_generated_texts().size(), 1u);
  const EarlierText& no_std = earlier_generated_texts()[0];
  EXPECT_EQ(no_std.path, "src/lib.rs");
  const auto digest = digest::sha256_hex(no_std.text);
  ASSERT_TRUE(digest.has_value());
  EXPECT_EQ(digest->view(), "59531bd1de59a2123fe2e0c95d4512234fa62cc6e6ab96129de860d70fde2d74");
  EXPECT_EQ(no_std.text.size(), 966u);
  EXPECT_TRUE(is_generated_text("src/lib.rs", no_std.text));
  // The current template differs (its two C functions are exported), and
  // both are recognised.
  EXPECT_NE(no_std.text, kNoStdLibSource);
  EXPECT_TRUE(is_generated_text("src/lib.rs", kNoStdLibSource));
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
