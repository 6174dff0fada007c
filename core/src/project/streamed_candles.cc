#include "project/streamed_candles.h"

#include "canonical/canonical_from_text.h"
#include "project/spec_hash.h"

namespace velkor::project {

void StreamedCandles::begin(const std::optional<std::string>& crate_name) {
  worker_.join();
  crate_name_ = crate_name;
  file_.restart();
  spec_.restart();
  begin_inline_spec_hash(spec_, crate_name_);
  bytes_ = 0;
}

void StreamedCandles::write(std::string_view piece) {
  worker_.update(piece);
  bytes_ += piece.size();
}

std::expected<digest::KnownFile, digest::DigestFailure> StreamedCandles::file() {
  worker_.join();
  auto digest = file_.finish();
  if (!digest) return std::unexpected(std::move(digest.error()));
  return digest::KnownFile{digest::hex(*digest), bytes_};
}

std::expected<digest::DigestText, CompileError> StreamedCandles::spec_hash(const CompileSpec& spec,
                                                                           std::string_view canonical_strategy) {
  worker_.join();
  if (spec.crate_name != crate_name_) {
    spec_.restart();
    begin_inline_spec_hash(spec_, spec.crate_name);
    auto remade = remake_candles(*spec.embed_data->streamed_candles, [&](std::string_view piece) { spec_.update(piece); });
    if (!remade) return std::unexpected(remade.error());
  }
  auto hash = finish_inline_spec_hash(spec_, spec, canonical_strategy);
  if (!hash) return std::unexpected(digest_error(hash.error()));
  return std::move(*hash);
}

std::expected<void, CompileError> remake_candles(std::string_view literal,
                                                 const std::function<void(std::string_view)>& take) {
  // The literal was read without a fault once, inside the request (so at a
  // greater depth): reading it again alone cannot fail.
  json::Reader reader(literal);
  std::string staging;
  if (auto made = append_canonical_from_text(reader, staging, &take); !made) {
    return std::unexpected(CompileError{CompileErrorKind::kCodegen, "re-reading the inline candles: " + made.error().text()});
  }
  return {};
}

}  // namespace velkor::project
