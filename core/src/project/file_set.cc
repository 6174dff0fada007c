#include "project/file_set.h"

#include <mutex>
#include <optional>

#include "digest/sha256.h"
#include "project/templates.h"
#include "support/utf8_text.h"
#include "support/whole_file.h"
#include "velkor/version.h"

namespace velkor::project {
namespace {

constexpr std::string_view kManifestPath = "Cargo.toml";
constexpr std::string_view kCandlesCsvPath = "src/candles.csv";
constexpr std::string_view kCandlesJsonPath = "src/candles.json";

CompileError reading_error(const std::string& path, std::string_view cause) {
  std::string message = "reading ";
  message += path;
  message += ": ";
  message += cause;
  return io_error(std::move(message));
}

}  // namespace

std::span<const std::string_view> generated_paths() {
  // The source paths come from the templates, one per target kind.
  static const std::string_view paths[] = {
      kManifestPath,
      kBuildTargetPath,
      kSpecPath,
      kCandlesCsvPath,
      kCandlesJsonPath,
      source_path(TargetKind::kWasm),
      source_path(TargetKind::kBinary),
      source_path(TargetKind::kNoStd),
  };
  return paths;
}

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

CompileError digest_error(const digest::DigestFailure& failure) {
  return {CompileErrorKind::kCodegen, "computing SHA-256 digests: " + failure};
}

std::expected<digest::KnownFile, CompileError> digest_data_file(const std::string& path) {
  // Pieces of 1 MB keep a dry run's memory flat whatever the file's size.
  constexpr std::size_t kPiece = 1 << 20;
  digest::Sha256 sha;
  Utf8Stream utf8;
  auto size = read_file_in_pieces(path, kPiece, [&](std::string_view piece) {
    if (utf8.feed(piece)) sha.update(piece);
  });
  if (!size) return std::unexpected(reading_error(path, size.error()));
  if (!utf8.finish()) return std::unexpected(reading_error(path, "stream did not contain valid UTF-8"));
  auto digest = sha.finish();
  if (!digest) return std::unexpected(digest_error(digest.error()));
  return digest::KnownFile{digest::hex(*digest), *size};
}

std::expected<digest::KnownFile, digest::DigestFailure> source_file_digest(TargetKind kind) {
  // Handles may compile on several threads at once; the lock guards only the
  // kept digests, not the hashing.
  static std::mutex mutex;
  static std::optional<digest::KnownFile> kept[3];  // by TargetKind
  std::optional<digest::KnownFile>& slot = kept[static_cast<std::size_t>(kind)];
  {
    const std::lock_guard lock(mutex);
    if (slot) return *slot;
  }
  const std::string_view text = source_text(kind);
  auto digest = digest::sha256_hex(text);
  if (!digest) return std::unexpected(std::move(digest.error()));
  const std::lock_guard lock(mutex);
  slot = digest::KnownFile{std::move(*digest), text.size()};
  return *slot;
}

std::expected<FileSet, CompileError> build_file_set(const CompileSpec& spec, std::string_view crate_name,
                                                    std::string spec_json, std::string candles_json,
                                                    DataFile data_file) {
  FileSet files;
  // The data file is read first so a failure costs no rendering.
  if (spec.embed_data && data_file == DataFile::kHeld) {
    if (spec.embed_data->kind == DatasetRef::Kind::kCsv) {
      auto csv = read_data_file(spec.embed_data->path);
      if (!csv) return std::unexpected(std::move(csv.error()));
      files.emplace(kCandlesCsvPath, std::move(*csv));
    } else {
      files.emplace(kCandlesJsonPath, std::move(candles_json));
    }
  }

  const TemplatePair values[] = {
      {"crate_name", crate_name},
      {"backtest_dep", kBacktestDep},
      {"profile", profile_snippet(spec.opt_level)},
  };
  files.emplace(kManifestPath, render_cargo_manifest(spec.target.kind, values));
  if (data_file == DataFile::kHeld) {
    files.emplace(std::string(source_path(spec.target.kind)), std::string(source_text(spec.target.kind)));
  }
  if (spec.target.kind != TargetKind::kBinary) {
    files.emplace(kBuildTargetPath, build_target_file(build_triple(spec.target)));
  }
  files.emplace(kSpecPath, std::move(spec_json));
  return files;
}

}  // namespace velkor::project
