// Project generation: from validated compile options to the project's files
// and the manifest that describes them. Touches the file system only to read
// embedded CSV data.
#ifndef VELKOR_PROJECT_GENERATE_PROJECT_H_
#define VELKOR_PROJECT_GENERATE_PROJECT_H_

#include <expected>
#include <string>

#include "project/compile_spec.h"
#include "project/file_set.h"
#include "protocol/compile_error.h"

namespace velkor::project {

struct GeneratedProject {
  std::string crate_name;
  FileSet files;
  // The manifest as compact JSON text, members in their fixed order:
  // compiler_version, target, opt_level, crate_name, spec_hash, backtest_dep,
  // files, project_hash.
  std::string manifest_json;
};

// Checks the options in order (strategy, crate name, MCU allowlist), then
// renders the files and computes the digests. The strategy is canonicalised
// once; its text and that of the inline candles serve both as project files and
// as parts of the spec hash. The candles text moves out of `spec` into the
// file set, so that it is never copied.
std::expected<GeneratedProject, CompileError> generate_project(CompileSpec& spec);

}  // namespace velkor::project

#endif  // VELKOR_PROJECT_GENERATE_PROJECT_H_
