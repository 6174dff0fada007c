#include "project/generate_project.h"

#include <optional>

#include "canonical/canonical.h"
#include "digest/files_digest.h"
#include "project/crate_name.h"
#include "project/mcu_allowlist.h"
#include "project/spec_hash.h"
#include "project/templates.h"
#include "strategy/validate.h"

namespace velkor::project {

std::expected<GeneratedProject, CompileError> generate_project(CompileSpec& spec, StreamedCandles* streamed,
                                                               DataFile data_file) {
  if (auto valid = strategy::validate_strategy(spec.strategy); !valid) {
    return std::unexpected(bad_spec("strategy is not a valid StrategySpec: " + valid.error()));
  }
  auto crate_name = resolve_crate_name(spec);
  if (!crate_name) return std::unexpected(crate_name.error());
  if (auto mcu = check_mcu(spec.target); !mcu) return std::unexpected(mcu.error());

  const bool inline_data = spec.embed_data && spec.embed_data->kind == DatasetRef::Kind::kInline;
  const bool csv_data = spec.embed_data && spec.embed_data->kind == DatasetRef::Kind::kCsv;
  const bool candles_streamed = inline_data && spec.embed_data->streamed_candles && streamed != nullptr;
  // Digests of data files that the set does not hold, or holds but were
  // hashed already.
  std::map<std::string, digest::KnownFile> known_digests;
  if (csv_data && data_file == DataFile::kLeftOut) {
    auto csv = digest_data_file(spec.embed_data->path);
    if (!csv) return std::unexpected(csv.error());
    known_digests.emplace(kCandlesCsvPath, std::move(*csv));
  }
  std::string candles_json;
  if (candles_streamed) {
    auto candles_file = streamed->file();
    if (!candles_file) return std::unexpected(digest_error(candles_file.error()));
    known_digests.emplace(kCandlesJsonPath, std::move(*candles_file));
    if (data_file == DataFile::kHeld) {
      candles_json.reserve(known_digests.at(std::string(kCandlesJsonPath)).bytes_len);
      auto remade = remake_candles(*spec.embed_data->streamed_candles,
                                   [&](std::string_view piece) { candles_json.append(piece); });
      if (!remade) return std::unexpected(remade.error());
    }
  } else if (inline_data) {
    candles_json = std::move(spec.embed_data->candles_json);
  }
  auto files = build_file_set(spec, *crate_name, canonical_json(spec.strategy), std::move(candles_json), data_file);
  if (!files) return std::unexpected(files.error());
  // The source file is the same text on every compile for its target kind;
  // its digest stands for it whether the set holds it or not.
  auto source = source_file_digest(spec.target.kind);
  if (!source) return std::unexpected(digest_error(source.error()));
  known_digests.emplace(source_path(spec.target.kind), std::move(*source));

  // One context for the spec hash and the file digests: setting one up costs
  // more than hashing a small file.
  digest::Sha256 sha;
  std::expected<digest::DigestText, CompileError> spec_hash;
  if (candles_streamed) {
    spec_hash = streamed->spec_hash(spec, files->at(std::string(kSpecPath)));
  } else {
    // The candles text, the largest by far, is hashed for the spec hash and as
    // a file in one sweep over memory.
    std::optional<std::string_view> candles_text;
    if (inline_data) candles_text = files->at(std::string(kCandlesJsonPath));
    std::optional<digest::Sha256> candles_digest;
    if (inline_data) candles_digest.emplace();
    auto hash = project::spec_hash(sha, spec, files->at(std::string(kSpecPath)), candles_text,
                                  candles_digest ? &*candles_digest : nullptr);
    if (!hash) return std::unexpected(digest_error(hash.error()));
    spec_hash = std::move(*hash);
    if (inline_data) {
      const auto candles_file_digest = candles_digest->finish();
      if (!candles_file_digest) return std::unexpected(digest_error(candles_file_digest.error()));
      known_digests.emplace(kCandlesJsonPath, digest::KnownFile{digest::hex(*candles_file_digest), candles_text->size()});
    }
  }
  if (!spec_hash) return std::unexpected(spec_hash.error());
  auto digests = digest::digest_files(sha, *files, known_digests);
  if (!digests) return std::unexpected(digest_error(digests.error()));

  GeneratedProject project;
  project.files = std::move(*files);
  project.manifest = BuildManifest{spec.target,          spec.opt_level,
                                   std::move(*crate_name), std::move(*spec_hash),
                                   std::move(digests->entries), std::move(digests->project_hash)};
  return project;
}

}  // namespace velkor::project
