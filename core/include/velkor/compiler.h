// The compiler core's public interface: a handle's state and the one entry
// point that applies a JSON command to it. No Python here; the extension module
// and the C++ tests, fuzzers and benchmarks all drive the core through this.
#ifndef VELKOR_COMPILER_H_
#define VELKOR_COMPILER_H_

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "velkor/version.h"

namespace velkor {

// What one handle remembers between commands. Lives only in memory.
struct CompilerState {
  // Artifact path of the most recent successful non-dry-run compile.
  std::optional<std::string> last_artifact;
  // Files loaded by "artifact_bytes", by handle number, ascending.
  std::map<std::uint64_t, std::vector<std::uint8_t>> artifact_cache;
  // The number the next "artifact_bytes" hands out.
  std::uint64_t next_handle = 0;
};

// Applies one command document (UTF-8 JSON text) to `state` and returns the
// response document. Every domain failure is answered in-band as
// {"ok":false,"error":"..."}; nothing is thrown for bad input. Only an internal
// fault (a broken invariant, memory exhaustion) throws a std::exception, and the
// state is then left as it was before the command.
std::string dispatch_command(CompilerState& state, std::string_view cmd_json);

}  // namespace velkor

#endif  // VELKOR_COMPILER_H_
