#include "project/file_set.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "project/templates.h"

namespace velkor::project {
namespace {

class FileSetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/velkor_file_set_XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string write_file(const std::string& name, const std::string& bytes) {
    std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  std::string dir_;
};

CompileSpec spec_for(TargetKind kind, OptLevel level = OptLevel::kRelease, std::string mcu = {}) {
  CompileSpec spec;
  spec.target = Target{kind, std::move(mcu)};
  spec.opt_level = level;
  return spec;
}

std::vector<std::string> paths_of(const FileSet& files) {
  std::vector<std::string> paths;
  for (const auto& [path, content] : files) paths.push_back(path);
  return paths;
}

TEST_F(FileSetTest, FilesByTarget) {
  struct Case {
    const char* name;
    TargetKind kind;
    std::string mcu;
    std::vector<std::string> paths;
    std::string config;  // expected .cargo/config.toml, if any
  } const cases[] = {
      {"binary", TargetKind::kBinary, "", {"Cargo.toml", "src/main.rs", "src/spec.json"}, ""},
      {"wasm",
       TargetKind::kWasm,
       "",
       {".cargo/config.toml", "Cargo.toml", "src/lib.rs", "src/spec.json"},
       "[build]\ntarget = \"wasm32-unknown-unknown\"\n"},
      {"no_std",
       TargetKind::kNoStd,
       "riscv32imac-unknown-none-elf",
       {".cargo/config.toml", "Cargo.toml", "src/lib.rs", "src/spec.json"},
       "[build]\ntarget = \"riscv32imac-unknown-none-elf\"\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto files = build_file_set(spec_for(c.kind, OptLevel::kRelease, c.mcu), "btc_usd", "{\"symbol\":\"BTC\"}");
    ASSERT_TRUE(files.has_value()) << files.error().message;
    EXPECT_EQ(paths_of(*files), c.paths);
    EXPECT_EQ(files->at("src/spec.json"), "{\"symbol\":\"BTC\"}");
    EXPECT_EQ(files->at(std::string(source_path(c.kind))), source_text(c.kind));
    if (!c.config.empty()) EXPECT_EQ(files->at(".cargo/config.toml"), c.config);
  }
  EXPECT_EQ(build_target_file("wasm32-unknown-unknown").size(), 42u);
}

TEST_F(FileSetTest, ManifestRendering) {
  struct Case {
    const char* name;
    TargetKind kind;
    OptLevel level;
    std::string ends_with;
    bool has_backtest_dep;
  } const cases[] = {
      {"binary debug", TargetKind::kBinary, OptLevel::kDebug, "serde_json = \"1\"\n\n", true},
      {"binary release", TargetKind::kBinary, OptLevel::kRelease,
       "serde_json = \"1\"\n\n[profile.release]\nlto = true\ncodegen-units = 1\n", true},
      {"wasm size", TargetKind::kWasm, OptLevel::kSize,
       "wasm-bindgen = \"0.2\"\n\n" + std::string(kSizeProfile), true},
      {"no_std debug", TargetKind::kNoStd, OptLevel::kDebug, "[dependencies]\n\n", false},
      {"no_std size", TargetKind::kNoStd, OptLevel::kSize, "[dependencies]\n\n" + std::string(kSizeProfile), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto files = build_file_set(spec_for(c.kind, c.level, "thumbv6m-none-eabi"), "my_bot", "{}");
    ASSERT_TRUE(files.has_value());
    const std::string& toml = files->at("Cargo.toml");
    EXPECT_TRUE(toml.starts_with("[package]\nname = \"my_bot\"\nversion = \"0.1.0\"\n"));
    EXPECT_TRUE(toml.ends_with(c.ends_with)) << toml;
    EXPECT_EQ(toml.find("[profile.release]") != std::string::npos, c.level != OptLevel::kDebug);
    EXPECT_EQ(toml.find("velkor-backtest = \"0.1.5\"\n") != std::string::npos, c.has_backtest_dep);
    EXPECT_EQ(toml.find("{{"), std::string::npos);
  }
}

TEST_F(FileSetTest, EmbeddedData) {
  const std::string csv = "ts,open,high,low,close\n1,2,3,4,5\r\n\xC3\xA4\n";
  std::string csv_path = write_file("candles.csv", csv);
  CompileSpec spec = spec_for(TargetKind::kBinary);
  spec.embed_data = DatasetRef{DatasetRef::Kind::kCsv, csv_path, {}};
  auto files = build_file_set(spec, "bot", "{}", "ignored");
  ASSERT_TRUE(files.has_value()) << files.error().message;
  EXPECT_EQ(paths_of(*files), (std::vector<std::string>{"Cargo.toml", "src/candles.csv", "src/main.rs", "src/spec.json"}));
  EXPECT_EQ(files->at("src/candles.csv"), csv);

  spec.embed_data = DatasetRef{DatasetRef::Kind::kInline, {}, "[]"};
  files = build_file_set(spec, "bot", "{}", "[]");
  ASSERT_TRUE(files.has_value());
  EXPECT_EQ(paths_of(*files), (std::vector<std::string>{"Cargo.toml", "src/candles.json", "src/main.rs", "src/spec.json"}));
  EXPECT_EQ(files->at("src/candles.json"), "[]");
}

TEST_F(FileSetTest, GeneratedPathsAreExactlyThoseOfSomeSet) {
  // Stale-file removal trusts this list: a path missing from it would survive
  // a change of target, a path no set holds would delete a user's file.
  const std::string csv_path = write_file("c.csv", "t\n");
  const std::optional<DatasetRef> data_kinds[] = {
      std::nullopt, DatasetRef{DatasetRef::Kind::kCsv, csv_path, {}}, DatasetRef{DatasetRef::Kind::kInline, {}, {}}};
  std::set<std::string> produced;
  for (TargetKind kind : {TargetKind::kWasm, TargetKind::kBinary, TargetKind::kNoStd}) {
    for (const auto& data : data_kinds) {
      CompileSpec spec = spec_for(kind, OptLevel::kRelease, "thumbv6m-none-eabi");
      spec.embed_data = data;
      auto files = build_file_set(spec, "bot", "{}", "[]");
      ASSERT_TRUE(files.has_value());
      for (const auto& [path, content] : *files) produced.insert(path);
    }
  }
  std::set<std::string> listed;
  for (std::string_view path : generated_paths()) listed.emplace(path);
  EXPECT_EQ(listed, produced);
}

TEST_F(FileSetTest, UnreadableDataFile) {
  std::string bad_utf8 = write_file("bad.csv", "a,b\n\xFF\n");
  std::string empty = write_file("empty.csv", "");
  std::string nul_path = dir_ + std::string("/x\0y.csv", 8);
  struct Case {
    std::string path;
    std::string message;  // empty: reads fine
  } const cases[] = {
      {bad_utf8, "reading " + bad_utf8 + ": stream did not contain valid UTF-8"},
      {dir_ + "/missing.csv", "reading " + dir_ + "/missing.csv: No such file or directory (os error 2)"},
      {dir_, "reading " + dir_ + ": Is a directory (os error 21)"},
      {nul_path, "reading " + nul_path + ": file name contained an unexpected NUL byte"},
      {empty, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    CompileSpec spec = spec_for(TargetKind::kWasm);
    spec.embed_data = DatasetRef{DatasetRef::Kind::kCsv, c.path, {}};
    auto files = build_file_set(spec, "bot", "{}");
    if (c.message.empty()) {
      ASSERT_TRUE(files.has_value());
      EXPECT_EQ(files->at("src/candles.csv"), "");
      continue;
    }
    ASSERT_FALSE(files.has_value());
    EXPECT_EQ(files.error().kind, CompileErrorKind::kIo);
    EXPECT_EQ(files.error().message, c.message);
  }
}

}  // namespace
}  // namespace velkor::project
