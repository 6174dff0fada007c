// Inline candles hashed while the request is read: the candles file's digest
// and the spec hash's text up to the end of the candles, so that a dry run
// never holds the candles' canonical text. Once the candles are large enough
// to be worth a thread, both digests take the pieces on a worker thread while
// the reading thread makes the next ones. The worker is joined before either
// digest is finished, and by the destructor on every other path.
#ifndef VELKOR_PROJECT_STREAMED_CANDLES_H_
#define VELKOR_PROJECT_STREAMED_CANDLES_H_

#include <cstdint>
#include <expected>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "digest/background_digest.h"
#include "digest/files_digest.h"
#include "digest/sha256.h"
#include "project/file_set.h"
#include "request/compile_request.h"
#include "support/compile_error.h"

namespace velkor::project {

class StreamedCandles final : public request::CandlesStream {
 public:
  void begin(const std::optional<std::string>& crate_name) override;
  void write(std::string_view piece) override;

  // The candles file's digest and length.
  std::expected<digest::KnownFile, digest::DigestFailure> file();
  // The spec hash of `spec`, whose inline candles were streamed here. The
  // text before the candles depends on the crate name: when the request gave
  // it after the candles, the candles are made again from their literal.
  std::expected<digest::DigestText, CompileError> spec_hash(const CompileSpec& spec, std::string_view canonical_strategy);

 private:
  std::optional<std::string> crate_name_;  // as known when the candles began
  digest::Sha256 file_;
  digest::Sha256 spec_;
  // Both digests take every piece; a fixed list, so that a compile without
  // inline data allocates nothing for it.
  digest::Sha256* const digests_[2] = {&file_, &spec_};
  digest::BackgroundDigest worker_{digests_};  // after them: joined before they go
  std::uint64_t bytes_ = 0;
};

// The canonical text of inline candles made again from their literal in the
// request text, for a compile that writes them, and fed to `take` in pieces.
std::expected<void, CompileError> remake_candles(std::string_view literal,
                                                 const std::function<void(std::string_view)>& take);

}  // namespace velkor::project

#endif  // VELKOR_PROJECT_STREAMED_CANDLES_H_
