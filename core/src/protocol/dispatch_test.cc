#include <gtest/gtest.h>

#include <openssl/evp.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <utility>

#include "digest/sha256.h"
#include "json/reader.h"
#include "json/value.h"
#include "support/test_support_files.h"

#include "velkor/compiler.h"

namespace velkor {
namespace {

constexpr char kEnvelopeError[] = R"({"ok":false,"error":"invalid command envelope: expected {\"cmd\":...}"})";
constexpr char kVersion[] = R"({"version":"0.2.0","backtest_dep":"0.1.5"})";

std::string run(std::string_view text) {
  CompilerState state;
  return dispatch_command(state, text);
}

// Whole answers, byte for byte.
TEST(Dispatch, Answers) {
  const std::pair<std::string, std::string> cases[] = {
      {R"({"cmd":"version"})", kVersion},
      {" \n{\"x\":[{\"deep\":[1,2,{}]}],\"cmd\":\"version\",\"y\":\"\\ud800\"}\t", kVersion},
      {R"(["version"])", kVersion},
      {R"({"cmd":"targets"})",
         R"({"targets":["wasm","binary","no_std"],"mcus":["thumbv6m-none-eabi","thumbv7m-none-eabi",)"
         R"("thumbv7em-none-eabi","thumbv7em-none-eabihf","thumbv8m.main-none-eabi",)"
         R"("thumbv8m.main-none-eabihf","riscv32imac-unknown-none-elf"]})"},
      {R"({"cmd":"reset"})", R"({"ok":true})"},
      {R"({"cmd":"a\"b\nc\u0001/"})", R"({"ok":false,"error":"unknown cmd: a\"b\nc\u0001/"})"},
      {R"({"cmd":"version"} {})", kEnvelopeError},
      {R"({"cmd":7})", kEnvelopeError},
      {R"({"cmd":"version","cmd":"version"})", kEnvelopeError},
      {R"(["version",1])", kEnvelopeError},
      {R"({"cmd":"version","x":[1,]})", kEnvelopeError},
      {R"({"cmd":"\ud800"})", kEnvelopeError},
      {"not json", kEnvelopeError},
      {R"({"cmd":"lint"})", R"({"ok":false,"error":"bad lint request: missing field `text` at line 1 column 14"})"},
      {R"({"cmd":"lint","text":{}})",
         R"({"ok":false,"error":"bad lint request: invalid type: map, expected a string at line 1 column 21"})"},
      {R"({"cmd":"lint","text":"[\n]"})",
         R"({"problems":[{"severity":"error","code":"VK006","path":"","line":2,"column":1,)"
         R"("message":"invalid length 1, expected struct StrategySpec with 14 elements",)"
         R"("plain":"too few elements: element 2 of the array is required"}]})"},
      {R"({"cmd":"lint","text":"[1,\"X\",null,\"1h\",{\"Symbol\":1}"})",
         R"({"problems":[{"severity":"error","code":"VK001","path":"","line":1,"column":29,)"
         R"("message":"EOF while parsing a list","plain":"the text ends inside an array: a closing `]` is missing"}]})"},
      {R"({"cmd":"lint","text":"{\"a\":1,\"b\":2}","max_problems":1})",
         R"({"problems":[{"severity":"warning","code":"VK201","path":"/a","line":1,"column":2,)"
         R"("message":"unknown field `a`","plain":"this object takes no member `a`; it is ignored"}],)"
         R"("omitted":{"errors":6,"warnings":1}})"},
      {R"({"cmd":"lint","text":"[1,","max_problems":0})", R"({"problems":[],"omitted":{"errors":1,"warnings":0}})"},
      // Market data is judged after the text, read as a compile request reads it.
      {R"({"cmd":"lint","text":"[1,","embed_data":{"kind":"inline","candles":[5]}})",
         R"({"problems":[{"severity":"error","code":"VK001","path":"","line":1,"column":3,)"
         R"("message":"EOF while parsing a value","plain":"the text ends where a value should stand"},)"
         R"({"severity":"warning","code":"VK301","path":"/embed_data/candles/0","line":1,"column":1,)"
         R"("message":"candle 0 is not a candle: neither an object nor an array","plain":"candle 0 is not a candle )"
         R"((neither an object nor an array): a candle is an object with the numbers \"open\", \"high\", \"low\" )"
         R"(and \"close\" (\"volume\" and a time optional), or an array [time, open, high, low, close, volume]"}]})"},
      {R"({"cmd":"lint","text":"","embed_data":{"kind":"csv"}})",
         R"({"ok":false,"error":"bad lint request: missing field `path` at line 1 column 52"})"},
      {R"({"cmd":"lint","text":"","max_problems":-1})",
         R"({"ok":false,"error":"bad lint request: invalid type: integer `-1`, expected u64 at line 1 column 41"})"},
      {R"({"cmd":"artifact_bytes"})",
         R"({"ok":false,"error":"bad artifact_bytes request: missing field `path` at line 1 column 24"})"},
      {R"({"cmd":"artifact_bytes","path":"a","path":"b"})",
         R"({"ok":false,"error":"bad artifact_bytes request: duplicate field `path` at line 1 column 41"})"},
      {R"({"cmd":"artifact_bytes","path":"/nonexistent/x"})",
         R"J({"ok":false,"error":"reading /nonexistent/x: No such file or directory (os error 2)"})J"},
      {R"({"cmd":"artifact_bytes","path":"a\u0000b"})",
         "{\"ok\":false,\"error\":\"reading a\\u0000b: file name contained an unexpected NUL byte\"}"},
      {R"({"cmd":"compile"})", R"({"ok":false,"error":"bad compile request: missing field `spec` at line 1 column 17"})"},
      {R"({"cmd":"canonical"})",
         R"({"ok":false,"error":"bad canonical request: missing field `spec` at line 1 column 19"})"},
      {R"({"cmd":"canonical","spec":{"strategy":{"symbol":"A"},"target":{"kind":"binary"}}})",
         R"({"ok":false,"error":"bad spec: strategy is not a valid StrategySpec: missing field `timeframe`"})"},
  };
  for (const auto& [request, answer] : cases) EXPECT_EQ(run(request), answer) << request;
}

// A relative data path is read from `base_dir`, as a compile run there reads it.
TEST(DispatchLint, DataPathsResolveAgainstTheBaseFolder) {
  const std::string request = R"({"cmd":"lint","text":"[1,","embed_data":{"kind":"csv","path":"ma_cross.json"})";
  const std::string in_examples = run(request + R"(,"base_dir":")" + VELKOR_SOURCE_DIR + "/examples\"}");
  EXPECT_NE(in_examples.find("`ma_cross.json` line 1 has 1 fields, not a candle's"), std::string::npos) << in_examples;
  const std::string here = run(request + "}");
  EXPECT_NE(here.find("no candles: reading ma_cross.json: No such file"), std::string::npos) << here;
}

TEST(DispatchCompile, EnvelopeFaultsWinOverRequestFaultsWhateverTheMemberOrder) {
  const std::string valid = R"({"cmd":"compile","dry_run":true,"spec":{"strategy":{"symbol":"A","timeframe":"1h",)"
                            R"("indicators":{},"entry":{"all":[]},"exit":{"all":[]},"sizing":{"type":"fixed_qty","qty":1}},)"
                            R"("target":{"kind":"binary"}})";
  const std::string answer = run(valid + "}");
  ASSERT_NE(answer.find(R"("built":false)"), std::string::npos) << answer;
  EXPECT_EQ(run(" \n" + valid + ",\"x\":[1]}"), answer);
  EXPECT_EQ(run(valid + "} x"), kEnvelopeError);
  EXPECT_EQ(run(valid + R"(,"cmd":"compile"})"), kEnvelopeError);
  EXPECT_EQ(run(valid + R"(,"x":[1,]})"), kEnvelopeError);
  EXPECT_EQ(run(R"({"cmd":"compile","spec":5,"x":{"a" 1}})"), kEnvelopeError);
  // A syntax fault deeper than requests may nest is still the envelope's.
  EXPECT_EQ(run(valid + R"(,"x":)" + std::string(200, '[') + "1,]" + std::string(199, ']') + "}"), kEnvelopeError);
  // Members nobody reads are skipped at any depth, by the request as by the envelope.
  EXPECT_EQ(run(valid + R"(,"x":)" + std::string(200, '[') + std::string(200, ']') + "}"), answer);
  // Unpaired surrogates are no envelope fault in skipped members, but are in read ones.
  EXPECT_EQ(run(valid + R"(,"x":"\ud800"})"), answer);
}

// The canonical text is the bytes a dry run digests as src/spec.json and the
// spec hash is the dry run's, with inline candles (hashed as they are read) too.
TEST(DispatchCanonical, AnswersTheTextAndHashOfADryRun) {
  const std::string spec = R"("spec":{"crate_name":"a","strategy":{"symbol":"A\"\u00e9/\t","timeframe":"1h",)"
                           R"("indicators":{},"entry":{"all":[]},"exit":{"all":[]},"sizing":{"type":"fixed_qty",)"
                           R"("qty":1.50e0}},"target":{"kind":"binary"})";
  for (const std::string data : {"", R"(,"embed_data":{"kind":"inline","candles":[[1,2,3,1,2,5]]})"}) {
    const std::string dry_run = run(R"({"cmd":"compile","dry_run":true,)" + spec + data + "}}");
    const auto answer = json::parse_document(run(R"({"cmd":"canonical","dry_run":false,)" + spec + data + "}}"));
    ASSERT_TRUE(answer && answer->is_object());
    const json::Value* text = answer->as_object().find("canonical");
    const json::Value* spec_hash = answer->as_object().find("spec_hash");
    ASSERT_TRUE(text && spec_hash && answer->as_object().size() == 2);
    const std::string digest(digest::sha256_hex(text->as_string())->view());
    EXPECT_NE(dry_run.find(R"({"path":"src/spec.json","sha256":")" + digest), std::string::npos) << dry_run;
    EXPECT_NE(dry_run.find(R"("spec_hash":")" + std::string(spec_hash->as_string())), std::string::npos) << dry_run;
  }
}

std::string bytes_request(const std::string& path) { return R"({"cmd":"artifact_bytes","path":")" + path + "\"}"; }

TEST(ArtifactCache, NumbersLoadsAndForgetsOnReset) {
  TempDir dir;
  const std::string abc = dir.path() + "/abc", empty = dir.path() + "/empty";
  std::ofstream(abc) << "abc";
  std::ofstream{empty};
  CompilerState state;
  const std::string abc_answer = R"(,"len":3,"sha256":"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"})";
  EXPECT_EQ(dispatch_command(state, bytes_request(abc)), R"({"handle":0)" + abc_answer);
  EXPECT_EQ(dispatch_command(state, bytes_request(abc)), R"({"handle":1)" + abc_answer);
  // A failed load uses no number and changes nothing.
  EXPECT_NE(dispatch_command(state, bytes_request("/nonexistent")).find("\"ok\":false"), std::string::npos);
  EXPECT_EQ(dispatch_command(state, bytes_request(empty)),
            R"({"handle":2,"len":0,"sha256":"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"})");
  ASSERT_EQ(state.artifact_cache.size(), 3u);
  EXPECT_EQ(std::string(state.artifact_cache[0].begin(), state.artifact_cache[0].end()), "abc");

  state.last_artifact = "x";
  EXPECT_EQ(dispatch_command(state, R"({"cmd":"reset"})"), R"({"ok":true})");
  EXPECT_FALSE(state.last_artifact);
  EXPECT_TRUE(state.artifact_cache.empty());
  EXPECT_EQ(dispatch_command(state, bytes_request(abc)), R"({"handle":0)" + abc_answer);
}

TEST(ArtifactCache, PipesAndDevicesAreRefusedNotWaitedFor) {
  TempDir dir;
  const std::string fifo = dir.path() + "/pipe";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // Without a writer, opening this FIFO to read would block forever.
  EXPECT_EQ(run(bytes_request(fifo)), R"({"ok":false,"error":"reading )" + fifo + R"(: not a regular file"})");
  EXPECT_EQ(run(bytes_request("/dev/zero")), R"({"ok":false,"error":"reading /dev/zero: not a regular file"})");
}

// Without SHA-256, the compile and artifact_bytes answer error documents, never
// made-up digests, and the handle goes on working: once SHA-256 is back, the
// digests are right (no failure was kept, the target source's digest, made
// once per process, included) and the failed loads used up no handle number.
// In a process of its own (the death test runs this binary afresh), where no
// digest was made before: the SHA-256 implementation is kept once looked up.
std::string answers_without_then_with_sha256() {
  TempDir dir;
  const std::string abc = dir.path() + "/abc";
  std::ofstream(abc) << "abc";
  const std::string dry_run = R"({"cmd":"compile","dry_run":true,"spec":{"strategy":{"symbol":"A","timeframe":"1h",)"
                              R"("indicators":{},"entry":{"all":[]},"exit":{"all":[]},)"
                              R"("sizing":{"type":"fixed_qty","qty":1}},"target":{"kind":"binary"}}})";
  CompilerState state;
  // Properties that no loaded implementation has (no FIPS provider is loaded).
  EVP_set_default_properties(digest::library_context(), "fips=yes");
  std::string seen = dispatch_command(state, dry_run) + "\n";
  std::string refused = dispatch_command(state, bytes_request(abc));
  if (const std::size_t at = refused.find(abc); at != std::string::npos) refused.replace(at, abc.size(), "PATH");
  seen += refused + "\n";
  seen += dispatch_command(state, R"({"cmd":"version"})") + "\n";
  EVP_set_default_properties(digest::library_context(), "");
  seen += dispatch_command(state, bytes_request(abc)) + "\n";
  const std::string recovered = dispatch_command(state, dry_run);
  seen += recovered == run(dry_run) && recovered.find(R"("built":false)") != std::string::npos
              ? "the dry run answers as in a new handle"
              : recovered;
  return seen;
}

TEST(DispatchDeathTest, DigestFailuresAreErrorDocumentsAndAreNotKept) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        const std::string seen = answers_without_then_with_sha256();
        const std::string expected =
            R"({"ok":false,"error":"codegen: computing SHA-256 digests: unsupported"})"
            "\n"
            R"({"ok":false,"error":"computing SHA-256 of PATH: unsupported"})"
            "\n" +
            std::string(kVersion) + "\n" + R"({"handle":0,"len":3,)" +
            R"("sha256":"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"})" +
            "\nthe dry run answers as in a new handle";
        std::fprintf(stderr, "saw:\n%s\nexpected:\n%s\n", seen.c_str(), expected.c_str());
        std::_Exit(seen == expected ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace velkor

namespace velkor {
namespace {

// A stop asked for once the project is written keeps cargo from starting; one
// asked for while cargo builds ends cargo and what it started. The answer says
// which, and the handle remembers no artifact.
TEST(DispatchCompile, AStopAskedForAfterWritingKeepsCargoFromStarting) {
  TempDir dir;
  std::ofstream(dir.path() + "/cargo") << "#!/bin/sh\ntouch " << dir.path() << "/ran\n"
                                       << "[ -n \"$SLOW\" ] && { sleep 30 & echo $! > " << dir.path() << "/pid; mv "
                                       << dir.path() << "/pid " << dir.path() << "/sleeper; wait; }\n"
                                       << "mkdir -p target/release && echo built > target/release/btc_usd\n";
  ::chmod((dir.path() + "/cargo").c_str(), 0755);
  const std::string saved_path = std::getenv("PATH");
  ::setenv("PATH", (dir.path() + ":/usr/bin:/bin").c_str(), 1);
  const std::string request = R"({"cmd":"compile","out_dir":")" + dir.path() + R"(/out","spec":{"strategy":)" +
                              read_file(VELKOR_SOURCE_DIR "/examples/ma_cross.json") + R"(,"target":{"kind":"binary"}}})";
  const std::string project = dir.path() + "/out/btc_usd";
  enum class Stop { kNoHook, kNever, kBeforeCargo, kWhileCargoBuilds };
  struct Case {
    const char* name;
    Stop stop;
    bool ran;    // cargo started
    bool built;  // and finished
    std::string error;
  } const cases[] = {
      {"no hook", Stop::kNoHook, true, true, ""},
      {"never stops", Stop::kNever, true, true, ""},
      {"before cargo", Stop::kBeforeCargo, false, false,
       "build: stopped before cargo started: the project in {P} is written, nothing was built"},
      {"while cargo builds", Stop::kWhileCargoBuilds, true, false,
       "build: interrupted: cargo was stopped; the project in {P} is left half-built"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(dir.path() + "/out");
    std::filesystem::remove(dir.path() + "/ran");
    std::filesystem::remove(dir.path() + "/sleeper");
    if (c.stop == Stop::kWhileCargoBuilds) ::setenv("SLOW", "1", 1);
    CompilerState state;
    CommandHooks hooks;
    int asked = 0, asked_after_stop = 0;
    bool said_stop = false;
    if (c.stop != Stop::kNoHook) {
      hooks.stop_requested = [&] {
        ++asked;
        if (said_stop) ++asked_after_stop;
        said_stop = c.stop == Stop::kBeforeCargo ||
                    (c.stop == Stop::kWhileCargoBuilds && std::filesystem::exists(dir.path() + "/sleeper"));
        return said_stop;
      };
    }
    const std::string answer = dispatch_command(state, request, hooks);
    ::unsetenv("SLOW");
    EXPECT_EQ(asked > 0, c.stop != Stop::kNoHook);
    EXPECT_EQ(asked_after_stop, 0);
    EXPECT_EQ(std::filesystem::exists(dir.path() + "/ran"), c.ran);
    EXPECT_EQ(state.last_artifact.has_value(), c.built);
    EXPECT_TRUE(std::filesystem::exists(project + "/Cargo.toml"));
    if (!c.error.empty()) {
      std::string error = c.error;
      error.replace(error.find("{P}"), 3, project);
      EXPECT_EQ(answer, R"({"ok":false,"error":")" + error + R"("})");
    }
    if (c.stop == Stop::kWhileCargoBuilds) {
      const std::string sleeper = read_file(dir.path() + "/sleeper");
      ASSERT_FALSE(sleeper.empty());
      // cargo's own child is gone too (it may take a moment to be reaped by init).
      bool gone = false;
      for (int i = 0; i < 1000 && !gone; ++i) {
        const std::string stat = read_file("/proc/" + std::to_string(std::stol(sleeper)) + "/stat");
        gone = stat.empty() || stat.find(") Z") != std::string::npos;
        if (!gone) ::usleep(10'000);
      }
      EXPECT_TRUE(gone);
    }
  }
  // A dry run writes nothing and never asks.
  CompilerState state;
  CommandHooks hooks{[] { return ADD_FAILURE(), true; }};
  std::string dry = request;
  dry.insert(1, R"("dry_run":true,)");
  EXPECT_NE(dispatch_command(state, dry, hooks).find(R"("built":false)"), std::string::npos);
  ::setenv("PATH", saved_path.c_str(), 1);
}

}  // namespace
}  // namespace velkor
