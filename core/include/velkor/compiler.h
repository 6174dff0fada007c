// The compiler core's public interface: a handle's state and the one entry
// point that applies a JSON command to it. No Python here; the extension module
// and the C++ tests, fuzzers and benchmarks all drive the core through this.
#ifndef VELKOR_COMPILER_H_
#define VELKOR_COMPILER_H_

#include <cstdint>
#include <functional>
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

// What the caller of a command lets it ask while it runs. Every member is
// optional.
struct CommandHooks {
  // Asked where a compile can stop; true stops it there. That is once after
  // the project is written and before cargo is started (a request to stop
  // that came while the files were written would otherwise go unheeded), and
  // then about every 100 ms while cargo builds. A compile stopped before
  // cargo answers
  //   {"ok":false,"error":"build: stopped before cargo started: the project in DIR is written, nothing was built"}
  // and one stopped while cargo builds ends cargo and everything it started
  // (its process group) before it answers
  //   {"ok":false,"error":"build: interrupted: cargo was stopped; the project in DIR is left half-built"}
  // (unless cargo had finished successfully by then: the build's own answer).
  // Either leaves the state as a failed build does. Not asked again once it
  // has said stop. Called on the thread that called dispatch_command; a
  // caller that releases its own locks while the command runs (an
  // interpreter lock, say) takes them back inside the hook.
  std::function<bool()> stop_requested;
};

// Applies one command document (UTF-8 JSON text) to `state` and returns the
// response document. Every domain failure is answered in-band as
// {"ok":false,"error":"..."}; nothing is thrown for bad input. Only an internal
// fault (a broken invariant, memory exhaustion) throws a std::exception, and the
// state is then left as it was before the command. An exception thrown by a
// hook passes through.
std::string dispatch_command(CompilerState& state, std::string_view cmd_json, const CommandHooks& hooks = {});

}  // namespace velkor

#endif  // VELKOR_COMPILER_H_
