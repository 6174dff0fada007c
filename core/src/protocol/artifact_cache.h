// The handle's artifact memory: "artifact_bytes" loads a file under a fresh
// handle number, "reset" forgets everything.
#ifndef VELKOR_PROTOCOL_ARTIFACT_CACHE_H_
#define VELKOR_PROTOCOL_ARTIFACT_CACHE_H_

#include <string>
#include <string_view>

#include "velkor/compiler.h"

namespace velkor {

// Answers an "artifact_bytes" command text: {"handle":h,"len":n,"sha256":"..."}
// or an error document. A failed load changes nothing in `state`.
std::string load_artifact_command(CompilerState& state, std::string_view text);

// Clears the recorded artifact and the cache, restarts numbering at 0: {"ok":true}.
std::string reset_command(CompilerState& state);

}  // namespace velkor

#endif  // VELKOR_PROTOCOL_ARTIFACT_CACHE_H_
