// Project generation: from validated compile options to the project's files
// and the manifest that describes them. Touches the file system only to read
// embedded CSV data.
#ifndef VELKOR_PROJECT_GENERATE_PROJECT_H_
#define VELKOR_PROJECT_GENERATE_PROJECT_H_

#include <expected>
#include <string>
#include <vector>

#include "digest/files_digest.h"
#include "project/file_set.h"
#include "project/streamed_candles.h"
#include "request/compile_spec.h"
#include "support/compile_error.h"

namespace velkor::project {

// What a generated project is: the values its manifest reports besides the
// fixed versions (the compiler's and the backtest dependency's).
struct BuildManifest {
  Target target;
  OptLevel opt_level = OptLevel::kRelease;
  std::string crate_name;
  digest::DigestText spec_hash;
  std::vector<digest::FileEntry> files;  // in path order
  digest::DigestText project_hash;
};

struct GeneratedProject {
  FileSet files;
  BuildManifest manifest;
};

// Checks the options in order (strategy, crate name, MCU allowlist), then
// renders the files and computes the digests. The strategy is canonicalised
// once; its text and that of the inline candles serve both as project files and
// as parts of the spec hash. The candles text moves out of `spec` into the
// file set, so that it is never copied. Inline candles that were streamed
// (read with `streamed` as their stream) take their digests from it. With the
// data file left out (a dry run), the set lacks it and a CSV file is hashed
// in pieces; the manifest is the same either way.
std::expected<GeneratedProject, CompileError> generate_project(CompileSpec& spec, StreamedCandles* streamed = nullptr,
                                                               DataFile data_file = DataFile::kHeld);

}  // namespace velkor::project

#endif  // VELKOR_PROJECT_GENERATE_PROJECT_H_
