#include "build/cargo.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "support/test_support_files.h"

namespace velkor::build {
namespace {

namespace fs = std::filesystem;

// A stand-in `cargo` first on PATH: a shell script that records its
// arguments, working directory and one inherited variable, then runs the
// behaviour a test gives it. PATH and the variable are restored afterwards.
class FakeCargoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(bin_ = dir_.path() + "/bin");
    fs::create_directories(project_ = dir_.path() + "/out/btc_usd");
    saved_path_ = std::getenv("PATH");  // set in any test environment
    ::setenv("PATH", (bin_ + ":/usr/bin:/bin").c_str(), 1);
    ::setenv("VELKOR_FAKE_CARGO_MARK", "inherited", 1);
  }
  void TearDown() override {
    ::setenv("PATH", saved_path_.c_str(), 1);
    ::unsetenv("VELKOR_FAKE_CARGO_MARK");
  }

  void install_cargo(const std::string& behaviour) {
    std::ofstream(bin_ + "/cargo") << "#!/bin/sh\necho \"$@\" > " << dir_.path() << "/log.args\n"
                                   << "pwd > " << dir_.path() << "/log.cwd\n"
                                   << "printf '%s' \"$VELKOR_FAKE_CARGO_MARK\" > " << dir_.path() << "/log.env\n"
                                   << behaviour << "\n";
    ::chmod((bin_ + "/cargo").c_str(), 0755);
  }

  // `message` with each {P} replaced by the project directory.
  std::string with_project(std::string message) const {
    for (std::size_t at; (at = message.find("{P}")) != std::string::npos;) message.replace(at, 3, project_);
    return message;
  }

  TempDir dir_;
  std::string bin_, project_, saved_path_;
};

TEST_F(FakeCargoTest, ArgumentsAndArtifactPaths) {
  struct Case {
    Target target;
    OptLevel level;
    std::string args;  // as one line
    std::string artifact;  // relative to the project directory
    std::string produces;  // the file the fake cargo writes
  } const cases[] = {
      {{TargetKind::kBinary, ""}, OptLevel::kDebug, "build", "target/debug/btc_usd", "target/debug/btc_usd"},
      {{TargetKind::kNoStd, "thumbv7em-none-eabihf"}, OptLevel::kSize, "build --target thumbv7em-none-eabihf --release",
       "target/thumbv7em-none-eabihf/release/libbtc_usd.a", "target/thumbv7em-none-eabihf/release/libbtc_usd.a"},
      {{TargetKind::kWasm, ""}, OptLevel::kRelease, "build --target wasm32-unknown-unknown --release",
       "pkg/btc_usd_bg.wasm", "target/wasm32-unknown-unknown/release/btc_usd.wasm"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.artifact);
    install_cargo("mkdir -p \"$(dirname " + c.produces + ")\" && printf 'artifact' > " + c.produces +
                  "; echo 'compiling, on stdout'; echo '   Finished' >&2");
    auto built = build_project(c.target, c.level, "btc_usd", project_);
    ASSERT_TRUE(built.has_value()) << built.error().message;
    EXPECT_EQ(*built, project_ + "/" + c.artifact);
    EXPECT_EQ(read_file(*built), "artifact");
    EXPECT_EQ(read_file(dir_.path() + "/log.args"), c.args + "\n");
    EXPECT_EQ(read_file(dir_.path() + "/log.cwd"), project_ + "\n");
    EXPECT_EQ(read_file(dir_.path() + "/log.env"), "inherited");
    EXPECT_EQ(artifact_relative_path(c.target, c.level, "btc_usd"), c.artifact);
  }
}

// A failed build carries cargo's stderr only (as decoded by stderr_tail,
// tested there), whatever way cargo ends; a success without a regular file at
// the artifact's place is a failure; what lies at pkg/{crate}_bg.wasm is
// replaced, never written through, and a link at pkg/ is not followed.
TEST_F(FakeCargoTest, Failures) {
  struct Case {
    Target target;
    std::string behaviour;
    CompileErrorKind kind;
    std::string message;  // with {P} for the project directory; empty: built
  } const cases[] = {
      {{TargetKind::kBinary, ""}, "echo 'stdout text'; printf 'error[E0425]\\n' >&2; exit 101",
       CompileErrorKind::kBuild, "error[E0425]\n"},
      {{TargetKind::kBinary, ""}, "printf 'dying' >&2; kill -9 $$", CompileErrorKind::kBuild, "dying"},
      {{TargetKind::kBinary, ""}, "exit 0", CompileErrorKind::kBuild,
       "cargo reported success but the artifact {P}/target/release/btc_usd does not exist"},
      {{TargetKind::kBinary, ""}, "mkdir -p target/release/btc_usd", CompileErrorKind::kBuild,
       "cargo reported success but the artifact {P}/target/release/btc_usd is not a regular file"},
      {{TargetKind::kWasm, ""}, "mkdir -p target/wasm32-unknown-unknown/release/btc_usd.wasm",
       CompileErrorKind::kBuild,
       "cargo reported success but the module {P}/target/wasm32-unknown-unknown/release/btc_usd.wasm is not a "
       "regular file"},
      // pkg/btc_usd_bg.wasm planted as a link to ../other, then as a directory.
      {{TargetKind::kWasm, ""}, "ln -s ../other pkg/btc_usd_bg.wasm", CompileErrorKind::kIo, ""},
      {{TargetKind::kWasm, ""}, "mkdir -p pkg/btc_usd_bg.wasm/inside", CompileErrorKind::kIo,
       "copying {P}/target/wasm32-unknown-unknown/release/btc_usd.wasm to {P}/pkg/btc_usd_bg.wasm: Is a directory "
       "(os error 21)"},
      // pkg/ itself a link to the out dir: nothing is written there.
      {{TargetKind::kWasm, ""}, "rm -r pkg && ln -s .. pkg", CompileErrorKind::kIo,
       "copying {P}/target/wasm32-unknown-unknown/release/btc_usd.wasm to {P}/pkg/btc_usd_bg.wasm: File exists "
       "(os error 17)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.behaviour);
    fs::remove_all(project_);
    fs::create_directories(project_ + "/pkg");
    std::ofstream(project_ + "/other") << "other";
    std::ofstream(project_ + "/pkg/.btc_usd_bg.wasm.tmp-7-7") << "left by a killed copy";
    const bool wasm = c.target.kind == TargetKind::kWasm;
    install_cargo(c.behaviour + (wasm && c.kind == CompileErrorKind::kIo
                                     ? "; mkdir -p target/wasm32-unknown-unknown/release && printf fresh > "
                                       "target/wasm32-unknown-unknown/release/btc_usd.wasm"
                                     : ""));
    auto built = build_project(c.target, OptLevel::kRelease, "btc_usd", project_);
    EXPECT_EQ(read_file(project_ + "/other"), "other");
    EXPECT_FALSE(fs::exists(dir_.path() + "/out/btc_usd_bg.wasm"));
    if (c.message.empty()) {
      ASSERT_TRUE(built.has_value()) << built.error().message;
      EXPECT_FALSE(fs::exists(project_ + "/pkg/.btc_usd_bg.wasm.tmp-7-7"));
      EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(*built)));
      EXPECT_EQ(read_file(*built), "fresh");
      continue;
    }
    ASSERT_FALSE(built.has_value());
    EXPECT_EQ(built.error().kind, c.kind);
    EXPECT_EQ(built.error().message, with_project(c.message));
  }
}

// The artifact is where cargo put it. A stand-in that honours a target
// directory given in the environment (CARGO_TARGET_DIR) or in a configuration
// only it reads (FAKE_CONFIG_TARGET_DIR, as `build.target-dir` would be), and
// answers `cargo metadata` with it. Cargo is asked only when a setting could
// apply: without one no second process runs and the path is the
// project-relative one, as it always was; with one in the environment even a
// stale artifact at the project-relative place is passed over.
TEST_F(FakeCargoTest, TheArtifactIsWhereCargoPutIt) {
  const std::string shared = dir_.path() + "/shared";
  install_cargo(
      "t=${CARGO_TARGET_DIR:-${FAKE_CONFIG_TARGET_DIR:-$PWD/target}}\n"
      "if [ \"$1\" = metadata ]; then echo \"$@\" >> " + dir_.path() + "/log.metadata\n"
      "  [ -n \"$METADATA_FAILS\" ] && { echo 'error: metadata' >&2; exit 101; }\n"
      "  printf '{\"packages\":[],\"target_directory\":\"%s\",\"version\":1}\\n' \"$t\"; exit 0; fi\n"
      "case \"$*\" in *wasm32*) d=$t/wasm32-unknown-unknown/release; f=btc_usd.wasm ;;\n"
      "  *) d=$t/release; f=btc_usd ;; esac\n"
      "mkdir -p \"$d\" && printf fresh > \"$d/$f\"");
  struct Case {
    const char* name;
    Target target;
    const char* variable;  // set to `shared` for the build
    bool stale;            // an old artifact lies at the project-relative place
    bool metadata_fails;
    std::string path;      // the answer, {S} for the shared directory, {P} for the project
    bool asked;            // cargo metadata ran
  } const cases[] = {
      {"no setting", {TargetKind::kBinary, ""}, nullptr, false, false, "{P}/target/release/btc_usd", false},
      {"no setting, an older artifact", {TargetKind::kBinary, ""}, nullptr, true, false, "{P}/target/release/btc_usd",
       false},
      {"CARGO_TARGET_DIR", {TargetKind::kBinary, ""}, "CARGO_TARGET_DIR", false, false, "{S}/release/btc_usd", true},
      {"CARGO_TARGET_DIR, a stale artifact in the project", {TargetKind::kBinary, ""}, "CARGO_TARGET_DIR", true, false,
       "{S}/release/btc_usd", true},
      {"a configuration's target-dir", {TargetKind::kBinary, ""}, "FAKE_CONFIG_TARGET_DIR", false, false,
       "{S}/release/btc_usd", true},
      {"wasm, a configuration's target-dir", {TargetKind::kWasm, ""}, "FAKE_CONFIG_TARGET_DIR", false, false,
       "{P}/pkg/btc_usd_bg.wasm", true},
      {"wasm, CARGO_TARGET_DIR", {TargetKind::kWasm, ""}, "CARGO_TARGET_DIR", false, false, "{P}/pkg/btc_usd_bg.wasm",
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(project_);
    fs::remove_all(shared);
    fs::remove(dir_.path() + "/log.metadata");
    fs::create_directories(project_ + "/target/release");
    if (c.stale) std::ofstream(project_ + "/target/release/btc_usd") << "stale";
    if (c.variable != nullptr) ::setenv(c.variable, shared.c_str(), 1);
    auto built = build_project(c.target, OptLevel::kRelease, "btc_usd", project_);
    if (c.variable != nullptr) ::unsetenv(c.variable);
    ASSERT_TRUE(built.has_value()) << built.error().message;
    std::string expected = with_project(c.path);
    if (expected.starts_with("{S}")) expected.replace(0, 3, shared);
    EXPECT_EQ(*built, expected);
    EXPECT_EQ(read_file(*built), "fresh");
    EXPECT_EQ(read_file(dir_.path() + "/log.metadata"),
              c.asked ? "metadata --format-version 1 --no-deps --offline\n" : "");
  }
  // Where cargo cannot say, the answer is what it was: the project-relative path.
  ::setenv("FAKE_CONFIG_TARGET_DIR", shared.c_str(), 1);
  ::setenv("METADATA_FAILS", "1", 1);
  auto built = build_project({TargetKind::kBinary, ""}, OptLevel::kRelease, "btc_usd", project_);
  ::unsetenv("FAKE_CONFIG_TARGET_DIR");
  ::unsetenv("METADATA_FAILS");
  ASSERT_FALSE(built.has_value());
  EXPECT_EQ(built.error().message,
            with_project("cargo reported success but the artifact {P}/target/release/btc_usd does not exist"));
}

// What a build shows on standard error, wherever that points, while the
// answer stays the one a build that shows nothing gives. The stand-in colours
// its output only when asked to, and fails at the end.
TEST_F(FakeCargoTest, LiveOutputNeverChangesTheAnswer) {
  ::unsetenv("NO_COLOR");
  ::unsetenv("CARGO_TERM_COLOR");
  install_cargo(
      "case \"$*\" in *'--color always'*) g='\\033[32m'; n='\\033[0m' ;; esac\n"
      "echo 'on stdout'; printf \"$g   Compiling$n dep v1.0.0 (/src/dep)\\n\" >&2; sleep $PAUSE\n"
      "printf \"$g   Compiling$n btc_usd v0.1.0\\n\" >&2; sleep $PAUSE; printf \"${g}error$n: boom\\n\" >&2; exit 101");
  const std::string plain = "   Compiling dep v1.0.0 (/src/dep)\n   Compiling btc_usd v0.1.0\nerror: boom\n";
  // A full pipe and one whose reader is gone must neither stall nor end the
  // build (nor raise SIGPIPE in this process); what they got is not read.
  enum class Sink { kFile, kTerminal, kReaderGone, kFullPipe };
  struct Case {
    LiveOutputRequest live;
    Sink sink;
    const char* pause;
    std::string shown;  // what standard error received
  } const cases[] = {
      {{}, Sink::kFile, "0", ""},
      {{.stream = true}, Sink::kFile, "0", "on stdout\n" + plain},
      {{.stream = true}, Sink::kTerminal, "0",
       "on stdout\r\n\x1b[32m   Compiling\x1b[0m dep v1.0.0 (/src/dep)\r\n\x1b[32m   Compiling\x1b[0m btc_usd "
       "v0.1.0\r\n\x1b[32merror\x1b[0m: boom\r\n"},
      // Redrawn once a second with the crate cargo last named, then cleared.
      {{.progress = true}, Sink::kFile, "1.2",
       "\rbuilding btc_usd, 1 s: Compiling dep v1.0.0\rbuilding btc_usd, 2 s: Compiling btc_usd v0.1.0\r" +
           std::string(47, ' ') + "\r"},
      {{.stream = true}, Sink::kReaderGone, "0", ""},
      {{.stream = true, .progress = true}, Sink::kFullPipe, "0", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "sink " << static_cast<int>(c.sink) << " pause " << c.pause);
    ::setenv("PAUSE", c.pause, 1);
    int ends[2] = {-1, -1};  // what is read back, what standard error becomes
    if (c.sink == Sink::kFile) {
      ends[0] = ::open((dir_.path() + "/stderr").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
      ends[1] = ::dup(ends[0]);
    } else if (c.sink == Sink::kTerminal) {
      ends[0] = ::posix_openpt(O_RDWR | O_NOCTTY);
      ASSERT_TRUE(::grantpt(ends[0]) == 0 && ::unlockpt(ends[0]) == 0);
      ends[1] = ::open(::ptsname(ends[0]), O_RDWR | O_NOCTTY);
    } else {
      ASSERT_EQ(::pipe2(ends, O_NONBLOCK), 0);
      while (c.sink == Sink::kFullPipe && ::write(ends[1], "x", 1) == 1) {
      }
      ::fcntl(ends[1], F_SETFL, 0);  // full, and blocking as standard error usually is
      if (c.sink == Sink::kReaderGone) ::close(std::exchange(ends[0], -1));
    }
    const int saved = ::dup(2);
    ::dup2(ends[1], 2);
    auto built = build_project({TargetKind::kBinary, ""}, OptLevel::kDebug, "btc_usd", project_, c.live);
    ::dup2(saved, 2);
    ::close(saved);
    ASSERT_FALSE(built.has_value());
    EXPECT_EQ(built.error().message, plain);
    EXPECT_EQ(read_file(dir_.path() + "/log.args"), c.sink == Sink::kTerminal ? "build --color always\n" : "build\n");
    std::string shown;
    if (c.sink == Sink::kFile || c.sink == Sink::kTerminal) {
      ::lseek(ends[0], 0, SEEK_SET);  // fails harmlessly on the terminal
      ::fcntl(ends[0], F_SETFL, O_NONBLOCK);
      char buf[4096];
      for (ssize_t n; (n = ::read(ends[0], buf, sizeof buf)) > 0;) shown.append(buf, static_cast<std::size_t>(n));
    }
    EXPECT_EQ(shown, c.shown);
    for (int fd : ends) ::close(fd);
  }
  ::unsetenv("PAUSE");
}

}  // namespace
}  // namespace velkor::build
