#include "project/generate_project.h"

#include <optional>

#include "canonical/canonical.h"
#include "digest/files_digest.h"
#include "digest/spec_hash.h"
#include "project/crate_name.h"
#include "project/mcu_allowlist.h"
#include "strategy/validate.h"

namespace velkor::project {

namespace {

// Digesting fails only inside OpenSSL (see digest/sha256.h); the compile then
// reports it instead of a manifest with made-up digests.
CompileError digest_error(const digest::DigestFailure& failure) {
  return {CompileErrorKind::kCodegen, "computing SHA-256 digests: " + failure};
}

}  // namespace

std::expected<GeneratedProject, CompileError> generate_project(CompileSpec& spec) {
  if (auto valid = strategy::validate_strategy(spec.strategy); !valid) {
    return std::unexpected(bad_spec("strategy is not a valid StrategySpec: " + valid.error()));
  }
  auto crate_name = resolve_crate_name(spec);
  if (!crate_name) return std::unexpected(crate_name.error());
  if (auto mcu = check_mcu(spec.target); !mcu) return std::unexpected(mcu.error());

  const bool inline_data = spec.embed_data && spec.embed_data->kind == DatasetRef::Kind::kInline;
  std::string candles_json = inline_data ? std::move(spec.embed_data->candles_json) : std::string();
  auto files = build_file_set(spec, *crate_name, canonical_json(spec.strategy), std::move(candles_json));
  if (!files) return std::unexpected(files.error());

  // The candles text, the largest by far, is hashed for the spec hash and as
  // a file in one sweep over memory.
  std::optional<std::string_view> candles_text;
  if (inline_data) candles_text = files->at("src/candles.json");
  digest::Sha256 candles_digest;
  const auto spec_hash =
      digest::spec_hash(spec, files->at("src/spec.json"), candles_text, inline_data ? &candles_digest : nullptr);
  if (!spec_hash) return std::unexpected(digest_error(spec_hash.error()));
  std::map<std::string, std::string> known_digests;
  if (inline_data) {
    const auto candles_file_digest = candles_digest.finish();
    if (!candles_file_digest) return std::unexpected(digest_error(candles_file_digest.error()));
    known_digests.emplace("src/candles.json", digest::hex(*candles_file_digest));
  }
  const auto digests = digest::digest_files(*files, known_digests);
  if (!digests) return std::unexpected(digest_error(digests.error()));

  GeneratedProject project;
  project.files = std::move(*files);
  project.manifest = BuildManifest{spec.target,          spec.opt_level,
                                   std::move(*crate_name), std::move(*spec_hash),
                                   std::move(digests->entries), std::move(digests->project_hash)};
  return project;
}

}  // namespace velkor::project
