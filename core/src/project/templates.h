// The fixed texts of a generated project: one Cargo manifest template per
// target kind, the release and size profile snippets, and one source file per
// target kind. The texts are byte-exact; a test pins each length.
#ifndef VELKOR_PROJECT_TEMPLATES_H_
#define VELKOR_PROJECT_TEMPLATES_H_

#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "request/compile_spec.h"

namespace velkor::project {

// Cargo.toml templates. Each ends with the "{{profile}}" marker and no line feed.
extern const std::string_view kWasmCargoTemplate;    // 309 bytes
extern const std::string_view kBinaryCargoTemplate;  // 257 bytes
extern const std::string_view kNoStdCargoTemplate;   // 237 bytes, no dependencies

// Profile snippets put in place of "{{profile}}"; "debug" uses the empty text.
extern const std::string_view kReleaseProfile;  // 47 bytes
extern const std::string_view kSizeProfile;     // 92 bytes

// Source files, copied verbatim into the project.
extern const std::string_view kWasmLibSource;    // src/lib.rs, 626 bytes
extern const std::string_view kBinaryMainSource; // src/main.rs, 432 bytes
extern const std::string_view kNoStdLibSource;   // src/lib.rs, 1014 bytes

std::string_view cargo_template(TargetKind kind);
std::string_view profile_snippet(OptLevel level);
std::string_view source_text(TargetKind kind);
// "src/main.rs" for a binary, "src/lib.rs" for the library targets.
std::string_view source_path(TargetKind kind);

using TemplatePair = std::pair<std::string_view, std::string_view>;

// cargo_template(kind) with every "{{key}}" of a listed key replaced by its
// value (the first pair with that key); inserted values are never scanned for
// markers, and markers whose key is not listed stay as they are. The
// manifests are cut into literal pieces and markers once per process, so a
// compile only looks up each marker's value and copies.
std::string render_cargo_manifest(TargetKind kind, std::span<const TemplatePair> pairs);

}  // namespace velkor::project

#endif  // VELKOR_PROJECT_TEMPLATES_H_
