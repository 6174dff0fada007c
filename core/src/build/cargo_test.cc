#include "build/cargo.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "project/file_set.h"
#include "project/write_project.h"

namespace velkor::build {
namespace {

namespace fs = std::filesystem;

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A stand-in `cargo` first on PATH: a shell script that records its
// arguments, working directory and one inherited variable, then runs the
// behaviour a test gives it. PATH and the variable are restored afterwards.
class FakeCargoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/velkor_cargo_XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    root_ = fs::canonical(tmpl).string();
    bin_ = root_ + "/bin";
    project_ = root_ + "/out/btc_usd";
    fs::create_directories(bin_);
    fs::create_directories(project_);
    const char* path = std::getenv("PATH");
    saved_path_ = path ? std::optional<std::string>(path) : std::nullopt;
    ::setenv("PATH", (bin_ + ":/usr/bin:/bin").c_str(), 1);
    ::setenv("VELKOR_FAKE_CARGO_MARK", "inherited", 1);
  }
  void TearDown() override {
    if (saved_path_) {
      ::setenv("PATH", saved_path_->c_str(), 1);
    } else {
      ::unsetenv("PATH");
    }
    ::unsetenv("VELKOR_FAKE_CARGO_MARK");
    fs::remove_all(root_);
  }

  void install_cargo(const std::string& behaviour) {
    std::ofstream(bin_ + "/cargo") << "#!/bin/sh\n"
                                   << "log=" << root_ << "/log\n"
                                   << "printf '%s\\n' \"$@\" > \"$log.args\"\n"
                                   << "pwd > \"$log.cwd\"\n"
                                   << "printf '%s' \"$VELKOR_FAKE_CARGO_MARK\" > \"$log.env\"\n"
                                   << behaviour << "\n";
    ::chmod((bin_ + "/cargo").c_str(), 0755);
  }

  std::vector<std::string> recorded_args() {
    std::vector<std::string> args;
    std::istringstream lines(read_file(root_ + "/log.args"));
    for (std::string line; std::getline(lines, line);) args.push_back(line);
    return args;
  }

  std::string root_, bin_, project_;
  std::optional<std::string> saved_path_;
};

TEST_F(FakeCargoTest, ArgumentsAndArtifactPaths) {
  struct Case {
    const char* name;
    Target target;
    OptLevel level;
    std::vector<std::string> args;
    std::string artifact;   // relative to the project directory
    std::string produces;   // the file the fake cargo writes
  } const cases[] = {
      {"binary debug", {TargetKind::kBinary, ""}, OptLevel::kDebug, {"build"}, "target/debug/btc_usd",
       "target/debug/btc_usd"},
      {"binary size", {TargetKind::kBinary, ""}, OptLevel::kSize, {"build", "--release"}, "target/release/btc_usd",
       "target/release/btc_usd"},
      {"no_std size",
       {TargetKind::kNoStd, "thumbv7em-none-eabihf"},
       OptLevel::kSize,
       {"build", "--target", "thumbv7em-none-eabihf", "--release"},
       "target/thumbv7em-none-eabihf/release/libbtc_usd.a",
       "target/thumbv7em-none-eabihf/release/libbtc_usd.a"},
      {"no_std debug",
       {TargetKind::kNoStd, "riscv32imac-unknown-none-elf"},
       OptLevel::kDebug,
       {"build", "--target", "riscv32imac-unknown-none-elf"},
       "target/riscv32imac-unknown-none-elf/debug/libbtc_usd.a",
       "target/riscv32imac-unknown-none-elf/debug/libbtc_usd.a"},
      {"wasm release",
       {TargetKind::kWasm, ""},
       OptLevel::kRelease,
       {"build", "--target", "wasm32-unknown-unknown", "--release"},
       "pkg/btc_usd_bg.wasm",
       "target/wasm32-unknown-unknown/release/btc_usd.wasm"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(project_ + "/target");
    fs::remove_all(project_ + "/pkg");
    install_cargo("mkdir -p \"$(dirname " + c.produces + ")\" && printf 'artifact' > " + c.produces +
                  "; echo 'compiling, on stdout'; echo '   Finished' >&2");
    auto built = build_project(c.target, c.level, "btc_usd", project_);
    ASSERT_TRUE(built.has_value()) << built.error().message;
    EXPECT_EQ(*built, project_ + "/" + c.artifact);
    EXPECT_EQ(read_file(*built), "artifact");
    EXPECT_EQ(recorded_args(), c.args);
    EXPECT_EQ(read_file(root_ + "/log.cwd"), project_ + "\n");
    EXPECT_EQ(read_file(root_ + "/log.env"), "inherited");
    EXPECT_EQ(artifact_relative_path(c.target, c.level, "btc_usd"), c.artifact);
  }
}

TEST_F(FakeCargoTest, FailedBuildCarriesStderrTail) {
  const std::string euro = "\xE2\x82\xAC";
  // 5000 bytes ending in 1000 euro signs: 2000 is not a multiple of 3, so the
  // plain cut falls inside a character and moves forward to the next one.
  std::string long_text = std::string(2000, 'a') + std::string(3000, 'b');
  std::string euro_text = std::string(2000, 'a');
  for (int i = 0; i < 1000; ++i) euro_text += euro;
  std::string euro_tail;
  for (int i = 0; i < 666; ++i) euro_tail += euro;
  struct Case {
    const char* name;
    std::string stderr_bytes;
    std::string behaviour;
    std::string message;
  } const cases[] = {
      {"100 bytes passed whole", std::string(99, 'e') + "\n", "exit 101", std::string(99, 'e') + "\n"},
      {"5000 bytes keep the last 2000", long_text, "exit 101", std::string(2000, 'b')},
      {"cut moved to a character boundary", euro_text, "exit 101", euro_tail},
      {"invalid UTF-8 replaced", "bad \xFF\xC3 byte", "exit 1", "bad \xEF\xBF\xBD\xEF\xBF\xBD byte"},
      {"empty stderr", "", "exit 1", ""},
      {"killed by a signal", "dying\n", "kill -9 $$", "dying\n"},
      {"stdout never reported", "only this", "echo 'stdout text'; exit 2", "only this"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::ofstream(root_ + "/stderr.bin", std::ios::binary) << c.stderr_bytes;
    install_cargo("cat " + root_ + "/stderr.bin >&2; " + c.behaviour);
    auto built = build_project({TargetKind::kBinary, ""}, OptLevel::kDebug, "btc_usd", project_);
    ASSERT_FALSE(built.has_value());
    EXPECT_EQ(built.error().kind, CompileErrorKind::kBuild);
    EXPECT_EQ(built.error().message, c.message);
  }
  EXPECT_EQ(euro_tail.size(), 1998u);
}

TEST_F(FakeCargoTest, LargeOutputDoesNotStall) {
  install_cargo(
      "head -c 5000000 /dev/zero | tr '\\0' x & head -c 5000000 /dev/zero | tr '\\0' y >&2; wait; "
      "printf ' last words' >&2; exit 1");
  auto built = build_project({TargetKind::kBinary, ""}, OptLevel::kDebug, "btc_usd", project_);
  ASSERT_FALSE(built.has_value());
  EXPECT_EQ(built.error().message, std::string(2000 - 11, 'y') + " last words");
}

TEST_F(FakeCargoTest, SuccessWithoutArtifactIsAnError) {
  struct Case {
    const char* name;
    Target target;
    std::string behaviour;
    std::string message;
  } const cases[] = {
      {"binary missing", {TargetKind::kBinary, ""}, "exit 0",
       "cargo reported success but the artifact {P}/target/release/btc_usd does not exist"},
      {"no_std missing", {TargetKind::kNoStd, "thumbv6m-none-eabi"}, "exit 0",
       "cargo reported success but the artifact {P}/target/thumbv6m-none-eabi/release/libbtc_usd.a does not exist"},
      {"wasm module missing", {TargetKind::kWasm, ""}, "exit 0",
       "cargo reported success but the module {P}/target/wasm32-unknown-unknown/release/btc_usd.wasm does not exist"},
      {"binary is a directory", {TargetKind::kBinary, ""}, "mkdir -p target/release/btc_usd",
       "cargo reported success but the artifact {P}/target/release/btc_usd is not a regular file"},
      {"wasm module is a directory", {TargetKind::kWasm, ""},
       "mkdir -p target/wasm32-unknown-unknown/release/btc_usd.wasm",
       "cargo reported success but the module {P}/target/wasm32-unknown-unknown/release/btc_usd.wasm is not a "
       "regular file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(project_ + "/target");
    install_cargo(c.behaviour);
    auto built = build_project(c.target, OptLevel::kRelease, "btc_usd", project_);
    ASSERT_FALSE(built.has_value());
    EXPECT_EQ(built.error().kind, CompileErrorKind::kBuild);
    std::string expected = c.message;
    expected.replace(expected.find("{P}"), 3, project_);
    EXPECT_EQ(built.error().message, expected);
  }
}

// What lies at pkg/{crate}_bg.wasm is replaced, never written through.
TEST_F(FakeCargoTest, WasmModuleReplacesWhatIsInPkg) {
  struct Case {
    const char* name;
    void (*plant)(const std::string& at);
    std::string error;  // with {P} for the project directory; empty: placed
  } const cases[] = {
      {"stale copy", [](const std::string& at) { std::ofstream(at) << "stale module from an earlier build, longer"; },
       ""},
      {"link to another file", [](const std::string& at) { fs::create_symlink("../other", at); }, ""},
      {"directory", [](const std::string& at) { fs::create_directories(at + "/inside"); },
       "copying {P}/target/wasm32-unknown-unknown/debug/btc_usd.wasm to {P}/pkg/btc_usd_bg.wasm: Is a directory (os "
       "error 21)"},
  };
  install_cargo("mkdir -p target/wasm32-unknown-unknown/debug && printf 'fresh' > "
                "target/wasm32-unknown-unknown/debug/btc_usd.wasm");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(project_ + "/pkg");
    fs::create_directories(project_ + "/pkg");
    std::ofstream(project_ + "/other") << "other";
    c.plant(project_ + "/pkg/btc_usd_bg.wasm");
    auto built = build_project({TargetKind::kWasm, ""}, OptLevel::kDebug, "btc_usd", project_);
    EXPECT_EQ(read_file(project_ + "/other"), "other");
    if (!c.error.empty()) {
      ASSERT_FALSE(built.has_value());
      EXPECT_EQ(built.error().kind, CompileErrorKind::kIo);
      std::string expected = c.error;
      for (std::size_t at; (at = expected.find("{P}")) != std::string::npos;) expected.replace(at, 3, project_);
      EXPECT_EQ(built.error().message, expected);
      continue;
    }
    ASSERT_TRUE(built.has_value()) << built.error().message;
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(*built)));
    EXPECT_EQ(read_file(*built), "fresh");
  }
}

TEST_F(FakeCargoTest, SpawnFailures) {
  // PATH names only an empty directory: there is no cargo to start.
  ::setenv("PATH", (root_ + "/empty").c_str(), 1);
  fs::create_directories(root_ + "/empty");
  auto built = build_project({TargetKind::kBinary, ""}, OptLevel::kDebug, "btc_usd", project_);
  ASSERT_FALSE(built.has_value());
  EXPECT_EQ(built.error().kind, CompileErrorKind::kBuild);
  EXPECT_EQ(built.error().message, "spawning cargo: No such file or directory (os error 2)");

  ::setenv("PATH", bin_.c_str(), 1);
  install_cargo("exit 0");
  built = build_project({TargetKind::kBinary, ""}, OptLevel::kDebug, "btc_usd", root_ + "/no/such/project");
  ASSERT_FALSE(built.has_value());
  EXPECT_EQ(built.error().message, "spawning cargo: No such file or directory (os error 2)");

  // A cargo that is not executable.
  ::chmod((bin_ + "/cargo").c_str(), 0644);
  built = build_project({TargetKind::kBinary, ""}, OptLevel::kDebug, "btc_usd", project_);
  ASSERT_FALSE(built.has_value());
  EXPECT_EQ(built.error().message, "spawning cargo: Permission denied (os error 13)");
}

TEST_F(FakeCargoTest, OnlyStandardDescriptorsReachCargo) {
  // `exec` redirects without the shell keeping a saved copy of the old
  // descriptor, so the listing shows what cargo was started with: 0, 1, 2 and,
  // possibly, the shell's own handle on the script it is reading.
  install_cargo("exec 1>" + root_ + "/log.fds; ls -l /proc/$$/fd");
  ASSERT_FALSE(build_project({TargetKind::kBinary, ""}, OptLevel::kDebug, "btc_usd", project_).has_value());
  std::istringstream lines(read_file(root_ + "/log.fds"));
  int listed = 0;
  for (std::string line; std::getline(lines, line);) {
    auto arrow = line.find(" -> ");
    if (arrow == std::string::npos) continue;
    ++listed;
    std::size_t name_at = line.rfind(' ', arrow - 1) + 1;
    int fd = std::stoi(line.substr(name_at, arrow - name_at));
    if (fd <= 2 || line.substr(arrow + 4) == bin_ + "/cargo") continue;
    ADD_FAILURE() << "descriptor leaked into cargo: " << line;
  }
  EXPECT_GE(listed, 3);
}

}  // namespace
}  // namespace velkor::build

namespace velkor::build {
namespace {

bool cargo_on_path() {
  const char* path = std::getenv("PATH");
  if (path == nullptr) return false;
  std::istringstream dirs(path);
  for (std::string dir; std::getline(dirs, dir, ':');) {
    if (!dir.empty() && ::access((dir + "/cargo").c_str(), X_OK) == 0) return true;
  }
  return false;
}

// A real cargo build of a generated binary project, against the offline
// crate source the setup script prepares. Needs cargo and the Debian crates.
TEST(CargoRealBuild, BinaryPrintsSymbolAndSpec) {
  if (!cargo_on_path()) GTEST_SKIP() << "cargo is not on PATH";
  char tmpl[] = "/tmp/velkor_real_build_XXXXXX";
  ASSERT_NE(::mkdtemp(tmpl), nullptr);
  const std::string root = tmpl;
  const std::string setup = std::string(VELKOR_SOURCE_DIR) + "/scripts/offline_cargo_setup.sh '" + root + "' >/dev/null 2>&1";
  if (std::system(setup.c_str()) != 0) {
    fs::remove_all(root);
    GTEST_SKIP() << "scripts/offline_cargo_setup.sh could not prepare an offline crate source";
  }

  CompileSpec spec;
  spec.target = Target{TargetKind::kBinary, ""};
  spec.opt_level = OptLevel::kDebug;
  const std::string canonical = "{\"symbol\":\"BTC-USD\",\"timeframe\":\"1h\"}";
  auto files = project::build_file_set(spec, "btc_usd", canonical);
  ASSERT_TRUE(files.has_value());
  const std::string out = root + "/out";
  ASSERT_TRUE(project::write_project(out, "btc_usd", *files).has_value());

  auto built = build_project(spec.target, spec.opt_level, "btc_usd", project::project_dir(out, "btc_usd"));
  ASSERT_TRUE(built.has_value()) << built.error().message;
  EXPECT_EQ(*built, out + "/btc_usd/target/debug/btc_usd");

  std::string printed;
  if (FILE* pipe = ::popen(("'" + *built + "'").c_str(), "r")) {
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) printed.append(buf, n);
    EXPECT_EQ(::pclose(pipe), 0);
  }
  EXPECT_EQ(printed, "velkor strategy for BTC-USD\n" + canonical + "\n");
  fs::remove_all(root);
}

}  // namespace
}  // namespace velkor::build
