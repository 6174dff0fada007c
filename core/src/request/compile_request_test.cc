#include "request/compile_request.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace velkor::request {
namespace {

std::string nested(int levels) { return std::string(levels, '[') + std::string(levels, ']'); }

// 200 levels of arrays: deeper than a request may nest.
const std::string kDeep = nested(200);

TEST(CompileRequest, FaultsAreDescribedWithTheirPosition) {
  const std::pair<std::string, std::string> cases[] = {
      {R"({"cmd":"compile"})", "missing field `spec` at line 1 column 17"},
      // Members of a tagged choice are checked only after the whole choice
      // was read, where the enclosing record stands.
      {R"({"cmd":"compile","spec":{"strategy":1,"target":{"kind":"no_std"}}})",
        "missing field `mcu` at line 1 column 65"},
      {R"({"cmd":"compile","spec":{"strategy":1,"target":{"kind":"no_std","mcu":"a","mcu":"b"}}})",
        "duplicate field `mcu` at line 1 column 85"},
      {R"({"cmd":"compile","spec":{"strategy":1,"target":{"kind":"wasm","kind":"wasm"}}})",
        "duplicate field `kind` at line 1 column 68"},
      {R"({"cmd":"compile","spec":{"strategy":1,"target":{"kind":"arm"}}})",
        "unknown variant `arm`, expected one of `wasm`, `binary`, `no_std` at line 1 column 60"},
      {R"({"cmd":"compile","spec":{"strategy":1,"target":"wasm"}})",
        "invalid type: string \"wasm\", expected internally tagged enum Target at line 1 column 53"},
      {R"({"cmd":"compile","spec":{"strategy":1,"target":["no_std"]}})",
        "invalid length 0, expected struct variant Target::NoStd with 1 element at line 1 column 58"},
      {R"({"cmd":"compile","spec":{"strategy":1,"target":{"kind":"wasm"},"opt_level":"fast"}})",
        "unknown variant `fast`, expected one of `debug`, `release`, `size` at line 1 column 81"},
      {R"({"cmd":"compile","spec":5})", "invalid type: integer `5`, expected struct CompileSpec at line 1 column 25"},
      {R"({"cmd":"compile","spec":[1,{"kind":"wasm"},"size",null,null,6]})", "trailing characters at line 1 column 61"},
      {R"(["compile"])", "invalid type: string \"compile\", expected struct CompileSpec at line 1 column 10"},
      {R"({"cmd":"compile","spec":{"strategy":1,"target":{"kind":"wasm"}},"out_dir":5})",
        "invalid type: integer `5`, expected a string at line 1 column 75"},
      {R"({"cmd":"compile","spec":{"strategy":1,"target":{"kind":"wasm"}},"stream_build_output":"yes"})",
        "invalid type: string \"yes\", expected a boolean at line 1 column 91"},
      {R"({"cmd":"compile","build_progress":null})", "invalid type: null, expected a boolean at line 1 column 38"},
      {"{\"cmd\":\"compile\",\n \"spec\": {\n  \"strategy\": [\"\\ud800\"]}}",
        "unexpected end of hex escape at line 3 column 23"},
      // An exponent past 2147483647 is out of range where it passes that bound.
      {R"({"cmd":"compile","spec":{"strategy":{"x":1e99999999999999},"target":{"kind":"binary"}}})",
        "number out of range at line 1 column 53"},
      {R"({"cmd":"compile","spec":{"strategy":1,"target":{"kind":"wasm"},)"
        R"("embed_data":{"kind":"inline","candles":[{"t":1,"c":2e99999999990}]}}})",
        "number out of range at line 1 column 127"},
      // An unknown member of a tagged choice is read whole with the choice.
      {R"({"cmd":"compile","spec":{"strategy":1,"target":{"kind":"wasm"},"embed_data":{"kind":"inline",)"
        R"("candles":[],"_meta":-1)" + std::string(400, '0') + R"(.5}}})",
        "number out of range at line 1 column 518"},
      {R"({"cmd":"compile","spec":{"strategy":1,"target":{"kind":"wasm","x":[{"y":1e400}]}}})",
        "number out of range at line 1 column 77"},
      // Members nobody reads are skipped at any depth; the fault is a later one.
      {R"({"x":)" + kDeep + "}", "missing field `spec` at line 1 column 406"},
      {R"({"cmd":"compile","spec":{"strategy":1,"target":{"kind":"no_std","x":)" + kDeep + "}}}",
        "missing field `mcu` at line 1 column 470"},
      // Values that are kept count toward the limit, wherever they stand.
      {R"({"cmd":"compile","spec":{"strategy":1,"target":["wasm",)" + kDeep + "]}}",
        "recursion limit exceeded at line 1 column 180"},
      // The request itself is level one: a strategy may hold 125 levels (see below), not 126.
      {R"({"cmd":"compile","spec":{"target":{"kind":"wasm"},"strategy":)" + nested(126) + "}}",
        "recursion limit exceeded at line 1 column 187"},
  };
  for (const auto& [text, message] : cases) {
    auto request = read_compile_request(text);
    ASSERT_FALSE(request) << text;
    EXPECT_EQ(request.error().text(), message);
  }
}

TEST(CompileRequest, ReadsEveryMemberAndDefault) {
  auto full = read_compile_request(
      R"({"cmd":"compile","dry_run":true,"out_dir":"o","stream_build_output":true,"build_progress":true,"spec":{"strategy":{"b":1,"a":[1.5]},
          "target":{"kind":"no_std","mcu":"thumbv6m-none-eabi","extra":[1]},"opt_level":{"debug":null},
          "embed_data":{"candles":[{"t":1}],"kind":"inline"},"crate_name":"demo"}})");
  ASSERT_TRUE(full) << full.error().text();
  EXPECT_TRUE(full->dry_run);
  EXPECT_TRUE(full->stream_build_output && full->build_progress);
  EXPECT_EQ(full->out_dir, "o");
  EXPECT_EQ(full->spec.target.kind, TargetKind::kNoStd);
  EXPECT_EQ(full->spec.target.mcu, "thumbv6m-none-eabi");
  EXPECT_EQ(full->spec.opt_level, OptLevel::kDebug);
  ASSERT_TRUE(full->spec.embed_data);
  EXPECT_EQ(full->spec.embed_data->kind, DatasetRef::Kind::kInline);
  EXPECT_EQ(full->spec.embed_data->candles_json, R"([{"t":1}])");
  EXPECT_EQ(full->spec.crate_name, "demo");
  EXPECT_EQ(full->spec.strategy.as_object().members()[0].key, "b");

  auto minimal = read_compile_request(
      R"({"spec":[null,["binary"],"release",["csv","data.csv"]],"out_dir":null,"embed_data":7,"cmd":"compile"})");
  ASSERT_TRUE(minimal) << minimal.error().text();
  EXPECT_FALSE(minimal->dry_run || minimal->stream_build_output || minimal->build_progress);
  EXPECT_FALSE(minimal->out_dir);
  EXPECT_TRUE(minimal->spec.strategy.is_null());
  EXPECT_EQ(minimal->spec.target.kind, TargetKind::kBinary);
  EXPECT_EQ(minimal->spec.opt_level, OptLevel::kRelease);
  ASSERT_TRUE(minimal->spec.embed_data);
  EXPECT_EQ(minimal->spec.embed_data->path, "data.csv");
  EXPECT_FALSE(minimal->spec.crate_name);

  // Members of a target other than its kind and mcu are ignored.
  EXPECT_TRUE(read_compile_request(R"({"spec":{"strategy":1,"target":{"kind":"wasm","mcu":5}}})"));
  EXPECT_TRUE(read_compile_request(R"({"spec":{"target":{"kind":"wasm"},"strategy":)" + nested(125) + "}}"));
}

}  // namespace
}  // namespace velkor::request
