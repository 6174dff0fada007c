// The files of a generated project: the paths this compiler generates and the
// file set of one compile. The set itself (relative path -> content, in the
// byte order of the paths) is the one the digests are computed over.
#ifndef VELKOR_PROJECT_FILE_SET_H_
#define VELKOR_PROJECT_FILE_SET_H_

#include <expected>
#include <span>
#include <string>
#include <string_view>

#include "base/compile_error.h"
#include "base/compile_spec.h"
#include "digest/files_digest.h"

namespace velkor::project {

using digest::FileSet;

// Every path a file set can hold, over all target and data kinds (unordered);
// the kinds that share a source path give it twice.
std::span<const std::string_view> generated_paths();

// The path of the file that holds the strategy's canonical text.
inline constexpr std::string_view kSpecPath = "src/spec.json";

// The path of the file that names the target cargo builds for.
inline constexpr std::string_view kBuildTargetPath = ".cargo/config.toml";

// ".cargo/config.toml" for a cross-compiled target: "[build]\ntarget = \"{triple}\"\n".
std::string build_target_file(std::string_view triple);

// The whole file at `path` (relative to the working directory), which must be
// UTF-8. Failures are Io errors "reading {path}: {cause}".
std::expected<std::string, CompileError> read_data_file(const std::string& path);

// A failure of OpenSSL while digesting, as the compile reports it.
CompileError digest_error(const digest::DigestFailure& failure);

// The digest and length of the data file at `path`, read in pieces and never
// held whole, with the checks and failures of read_data_file.
std::expected<digest::KnownFile, CompileError> digest_data_file(const std::string& path);

// The digest and length of the target kind's source file. The text is fixed,
// so it is hashed once per process and the digest kept; a failure is not kept,
// so a later call hashes again and reports its own outcome.
std::expected<digest::KnownFile, digest::DigestFailure> source_file_digest(TargetKind kind);

// Whether a file set holds the data file (src/candles.csv or
// src/candles.json), or leaves it out because only its digest is wanted (a
// dry run). A set without its data file lacks the target's source file too:
// that text is fixed and its digest kept (source_file_digest), so only a set
// that is written needs a copy of it.
enum class DataFile { kHeld, kLeftOut };

// The project files for validated options: Cargo.toml rendered for the target
// with `crate_name`, the backtest dependency and the opt level's profile; the
// target's source file; .cargo/config.toml for wasm and no_std; src/spec.json
// holding `spec_json` (the strategy's canonical text); and, per embed_data,
// src/candles.csv read from disk or src/candles.json holding `candles_json`
// (the canonical text of the inline candles, ignored otherwise), unless the
// data file (and with it the source file) is left out. The texts are moved
// into the set. Only a CSV read can fail.
std::expected<FileSet, CompileError> build_file_set(const CompileSpec& spec, std::string_view crate_name,
                                                    std::string spec_json, std::string candles_json = {},
                                                    DataFile data_file = DataFile::kHeld);

}  // namespace velkor::project

#endif  // VELKOR_PROJECT_FILE_SET_H_
