#include "digest/spec_hash.h"

#include "canonical/canonical.h"
#include "digest/sha256.h"
#include "json/string_escape.h"

namespace velkor::digest {
namespace {

std::string json_string(std::string_view text) {
  std::string out;
  json::append_json_string(out, text);
  return out;
}

}  // namespace

std::expected<std::string, DigestFailure> spec_hash(const CompileSpec& spec, std::string_view canonical_strategy,
                                                    std::optional<std::string_view> canonical_candles,
                                                    Sha256* candles_digest) {
  Sha256 sha;
  CanonicalWriter text([&sha](std::string_view chunk) { sha.update(chunk); });
  // Members in canonical (byte) order, and so are the keys of every nested object.
  text.write_text("{");
  if (spec.crate_name) {
    text.write_text("\"crate_name\":");
    text.write_text(json_string(*spec.crate_name));
    text.write_text(",");
  }
  if (spec.embed_data) {
    const DatasetRef& data = *spec.embed_data;
    if (data.kind == DatasetRef::Kind::kCsv) {
      text.write_text("\"embed_data\":{\"kind\":\"csv\",\"path\":");
      text.write_text(json_string(data.path));
      text.write_text("},");
    } else {
      text.write_text("\"embed_data\":{\"candles\":");
      const std::string_view candles = canonical_candles ? *canonical_candles : std::string_view(data.candles_json);
      if (candles_digest == nullptr) {
        text.write_text(candles);
      } else {
        text.flush();
        constexpr std::size_t kPiece = 64 * 1024;
        for (std::size_t at = 0; at < candles.size(); at += kPiece) {
          const std::string_view piece = candles.substr(at, kPiece);
          sha.update(piece);
          candles_digest->update(piece);
        }
      }
      text.write_text(",\"kind\":\"inline\"},");
    }
  }
  text.write_text("\"opt_level\":\"");
  text.write_text(opt_level_name(spec.opt_level));
  text.write_text("\",\"strategy\":");
  text.write_text(canonical_strategy);
  text.write_text(",\"target\":");
  text.write_text(target_json(spec.target));
  text.write_text("}");
  text.flush();
  auto digest = sha.finish();
  if (!digest) return std::unexpected(std::move(digest.error()));
  return hex(*digest);
}

}  // namespace velkor::digest
