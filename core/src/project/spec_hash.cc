#include "project/spec_hash.h"

#include "digest/sha256.h"
#include "json/string_escape.h"
#include "support/chunked_writer.h"

namespace velkor::project {

using digest::DigestFailure;
using digest::DigestText;
using digest::Sha256;

namespace {

std::string json_string(std::string_view text) {
  std::string out;
  json::append_json_string(out, text);
  return out;
}

// The spec text up to the inline candles: "{", the crate name member when
// given, and the embed_data member up to its "candles" value.
void write_head_before_candles(ChunkedWriter& text, const std::optional<std::string>& crate_name) {
  text.write_text("{");
  if (crate_name) {
    text.write_text("\"crate_name\":");
    text.write_text(json_string(*crate_name));
    text.write_text(",");
  }
  text.write_text("\"embed_data\":{\"candles\":");
}

// The spec text after the embed_data member: opt_level, strategy, target.
void write_tail(ChunkedWriter& text, const CompileSpec& spec, std::string_view canonical_strategy) {
  text.write_text("\"opt_level\":\"");
  text.write_text(opt_level_name(spec.opt_level));
  text.write_text("\",\"strategy\":");
  text.write_text(canonical_strategy);
  std::string target = ",\"target\":";
  append_target_json(target, spec.target);
  target.push_back('}');
  text.write_text(target);
}

std::expected<DigestText, DigestFailure> finish_hex(Sha256& sha) {
  auto digest = sha.finish();
  if (!digest) return std::unexpected(std::move(digest.error()));
  return digest::hex(*digest);
}

}  // namespace

void begin_inline_spec_hash(Sha256& sha, const std::optional<std::string>& crate_name) {
  ChunkedWriter text([&sha](std::string_view chunk) { sha.update(chunk); });
  write_head_before_candles(text, crate_name);
  text.flush();
}

std::expected<DigestText, DigestFailure> finish_inline_spec_hash(Sha256& sha, const CompileSpec& spec,
                                                                 std::string_view canonical_strategy) {
  ChunkedWriter text([&sha](std::string_view chunk) { sha.update(chunk); });
  text.write_text(",\"kind\":\"inline\"},");
  write_tail(text, spec, canonical_strategy);
  text.flush();
  return finish_hex(sha);
}

std::expected<DigestText, DigestFailure> spec_hash(Sha256& sha, const CompileSpec& spec,
                                                   std::string_view canonical_strategy,
                                                   std::optional<std::string_view> canonical_candles,
                                                   Sha256* candles_digest) {
  sha.restart();
  if (spec.embed_data && spec.embed_data->kind == DatasetRef::Kind::kInline) {
    begin_inline_spec_hash(sha, spec.crate_name);
    const std::string_view candles =
        canonical_candles ? *canonical_candles : std::string_view(spec.embed_data->candles_json);
    constexpr std::size_t kPiece = 64 * 1024;
    for (std::size_t at = 0; at < candles.size(); at += kPiece) {
      const std::string_view piece = candles.substr(at, kPiece);
      sha.update(piece);
      if (candles_digest != nullptr) candles_digest->update(piece);
    }
    return finish_inline_spec_hash(sha, spec, canonical_strategy);
  }
  ChunkedWriter text([&sha](std::string_view chunk) { sha.update(chunk); });
  // Members in canonical (byte) order, and so are the keys of every nested object.
  text.write_text("{");
  if (spec.crate_name) {
    text.write_text("\"crate_name\":");
    text.write_text(json_string(*spec.crate_name));
    text.write_text(",");
  }
  if (spec.embed_data) {
    text.write_text("\"embed_data\":{\"kind\":\"csv\",\"path\":");
    text.write_text(json_string(spec.embed_data->path));
    text.write_text("},");
  }
  write_tail(text, spec, canonical_strategy);
  text.flush();
  return finish_hex(sha);
}

}  // namespace velkor::project
