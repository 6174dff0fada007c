#include "project/generate_project.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "project/templates.h"
#include "request/compile_request.h"

namespace velkor::project {
namespace {

std::string example_strategy() {
  std::ifstream in(VELKOR_SOURCE_DIR "/examples/ma_cross.json");
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The manifest's digests and lengths, as one comparable text.
std::string digests_of(const GeneratedProject& project) {
  std::string text(project.manifest.spec_hash.view());
  text.append(" ").append(project.manifest.project_hash.view());
  for (const auto& file : project.manifest.files) text += " " + file.path + ":" + std::to_string(file.bytes_len);
  return text;
}

// A request read without streaming, its data held: the reference.
std::string held_digests(const std::string& text) {
  auto request = request::read_compile_request(text);
  EXPECT_TRUE(request.has_value()) << text;
  auto project = generate_project(request->spec);
  return project ? digests_of(*project) : "fault: " + project.error().display();
}

// The same request with its candles streamed while read and its data file left out.
std::string streamed_digests(const std::string& text) {
  StreamedCandles candles;
  auto request = request::read_compile_request(text, request::CmdMember::kSkipped, &candles);
  EXPECT_TRUE(request.has_value()) << text;
  auto project = generate_project(request->spec, &candles, DataFile::kLeftOut);
  if (project) EXPECT_FALSE(project->files.contains("src/candles.json") || project->files.contains("src/candles.csv"));
  // Nor the fixed source text, which only a written project needs.
  if (project) EXPECT_FALSE(project->files.contains(std::string(source_path(request->spec.target.kind))));
  return project ? digests_of(*project) : "fault: " + project.error().display();
}

TEST(GenerateProject, StreamedOrLeftOutDataGivesTheHeldDigests) {
  std::string candles = "[";
  for (int i = 0; i < 45000; ++i) candles += (i ? ", " : "") + std::string(R"({"t": 1, "c": 1.50, "k\u00e9": [2e3]})");
  candles += "]";
  // A CSV file whose multi-byte characters straddle the 1 MB pieces it is read in.
  const std::string csv_path = ::testing::TempDir() + "generate_project_test.csv";
  {
    std::ofstream csv(csv_path, std::ios::binary);
    for (int i = 0; i < 300000; ++i) csv << "t,\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\n";
  }
  const std::string strategy = example_strategy();
  const std::string rows[] = {
      // The crate name before the candles, after them, absent; the array form.
      R"({"spec":{"crate_name":"x","strategy":)" + strategy + R"(,"target":{"kind":"wasm"},"embed_data":{"kind":"inline","candles":)" + candles + "}}}",
      R"({"spec":{"strategy":)" + strategy + R"(,"target":{"kind":"wasm"},"embed_data":{"candles":)" + candles + R"(,"kind":"inline"},"crate_name":"x"}})",
      R"({"spec":{"strategy":)" + strategy + R"(,"target":{"kind":"wasm"},"embed_data":["inline",)" + candles + "]}}",
      R"({"spec":{"strategy":)" + strategy + R"(,"target":{"kind":"wasm"},"embed_data":{"kind":"csv","path":")" + csv_path + R"("}}})",
  };
  for (const std::string& row : rows) EXPECT_EQ(streamed_digests(row), held_digests(row)) << row.substr(0, 120);
  // A file cut inside a character is refused either way.
  { std::ofstream(csv_path, std::ios::app | std::ios::binary) << "\xf0\x9f"; }
  EXPECT_EQ(streamed_digests(rows[3]), held_digests(rows[3]));
  EXPECT_NE(held_digests(rows[3]).find("stream did not contain valid UTF-8"), std::string::npos);
  std::remove(csv_path.c_str());
}

}  // namespace
}  // namespace velkor::project
