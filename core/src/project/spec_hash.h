// spec_hash: the digest of what a compile request asked for, the strategy as
// received plus the compile options.
#ifndef VELKOR_PROJECT_SPEC_HASH_H_
#define VELKOR_PROJECT_SPEC_HASH_H_

#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "digest/sha256.h"
#include "request/compile_spec.h"

namespace velkor::project {

// SHA-256 digest text of the canonical text of the compile specification
// object {crate_name?, embed_data?, opt_level, strategy, target}: crate_name
// only when the request gave one, embed_data only when present, as
// {"kind":"csv","path":...} or {"candles":...,"kind":"inline"}; target
// {"kind":"wasm"}, {"kind":"binary"} or {"kind":"no_std","mcu":...}; opt_level
// "debug", "release" or "size".
//
// `canonical_strategy` and `canonical_candles` are the canonical texts the
// compile has already produced for spec.json and candles.json; they are hashed
// as they are, never canonicalised again and never copied into one big text.
// Without `canonical_candles` the text held by the inline data is used.
//
// `candles_digest`, when given, also receives the inline candles text, piece
// by piece as the spec hash takes it: the candles file's own digest then costs
// no second pass over memory (hashing the same piece twice while it is in the
// cache is markedly faster than two passes over a large text).
//
// The digest is computed on `sha`, restarted first, so that a compile can use
// one context for this and the file digests.
std::expected<digest::DigestText, digest::DigestFailure> spec_hash(digest::Sha256& sha, const CompileSpec& spec,
                                                   std::string_view canonical_strategy,
                                                   std::optional<std::string_view> canonical_candles,
                                                   digest::Sha256* candles_digest = nullptr);

// The spec hash of a request with inline candles, in three steps, for
// candles hashed while they are read: `begin_inline_spec_hash` feeds `sha` the
// text before the candles (which depends only on the crate name), the caller
// feeds it the candles' canonical text, and `finish_inline_spec_hash` feeds
// the rest and returns the digest text. `spec_hash` gives the same digest.
void begin_inline_spec_hash(digest::Sha256& sha, const std::optional<std::string>& crate_name);
std::expected<digest::DigestText, digest::DigestFailure> finish_inline_spec_hash(digest::Sha256& sha, const CompileSpec& spec,
                                                                 std::string_view canonical_strategy);

}  // namespace velkor::project

#endif  // VELKOR_PROJECT_SPEC_HASH_H_
