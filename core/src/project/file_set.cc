#include "project/file_set.h"

#include "project/templates.h"
#include "support/utf8_text.h"
#include "support/whole_file.h"
#include "velkor/compiler.h"

namespace velkor::project {
namespace {

CompileError reading_error(const std::string& path, std::string_view cause) {
  std::string message = "reading ";
  message += path;
  message += ": ";
  message += cause;
  return io_error(std::move(message));
}

}  // namespace

std::string build_target_file(std::string_view triple) {
  std::string text = "[build]\ntarget = \"";
  text += triple;
  text += "\"\n";
  return text;
}

std::expected<std::string, CompileError> read_data_file(const std::string& path) {
  auto content = read_whole_file<std::string>(path);
  if (!content) return std::unexpected(reading_error(path, content.error()));
  if (!is_valid_utf8(*content)) return std::unexpected(reading_error(path, "stream did not contain valid UTF-8"));
  return std::move(*content);
}

std::expected<FileSet, CompileError> build_file_set(const CompileSpec& spec, std::string_view crate_name,
                                                    std::string spec_json, std::string candles_json) {
  FileSet files;
  // The data file is read first so a failure costs no rendering.
  if (spec.embed_data) {
    if (spec.embed_data->kind == DatasetRef::Kind::kCsv) {
      auto csv = read_data_file(spec.embed_data->path);
      if (!csv) return std::unexpected(std::move(csv.error()));
      files.emplace("src/candles.csv", std::move(*csv));
    } else {
      files.emplace("src/candles.json", std::move(candles_json));
    }
  }

  const TemplatePair values[] = {
      {"crate_name", crate_name},
      {"backtest_dep", kBacktestDep},
      {"profile", profile_snippet(spec.opt_level)},
  };
  files.emplace("Cargo.toml", render(cargo_template(spec.target.kind), values));
  files.emplace(std::string(source_path(spec.target.kind)), std::string(source_text(spec.target.kind)));
  if (spec.target.kind != TargetKind::kBinary) {
    files.emplace(".cargo/config.toml", build_target_file(build_triple(spec.target)));
  }
  files.emplace("src/spec.json", std::move(spec_json));
  return files;
}

}  // namespace velkor::project
