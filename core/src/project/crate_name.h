// The crate name of a generated project, and the bare-metal target allowlist.
// Both are checked before anything is generated or written.
#ifndef VELKOR_PROJECT_CRATE_NAME_H_
#define VELKOR_PROJECT_CRATE_NAME_H_

#include <expected>
#include <span>
#include <string>
#include <string_view>

#include "base/compile_error.h"
#include "base/compile_spec.h"

namespace velkor::project {

// The requested "crate_name" unchanged, or else one derived from the
// strategy's string "symbol": one character per Unicode character, ASCII
// letters lowered, ASCII lowercase letters and digits kept, anything else "_".
// The result must match ^[a-z][a-z0-9_]*$. Failures are BadSpec errors whose
// message quotes the candidate in debug form.
std::expected<std::string, CompileError> resolve_crate_name(const CompileSpec& spec);

// The bare-metal target triples a no_std project may name, in the order the
// "targets" command reports them.
std::span<const std::string_view> mcu_allowlist();

// Succeeds for wasm and binary targets and for a no_std target whose mcu is in
// the allowlist (byte-exact); otherwise a BadTarget error.
std::expected<void, CompileError> check_mcu(const Target& target);

}  // namespace velkor::project

#endif  // VELKOR_PROJECT_CRATE_NAME_H_
