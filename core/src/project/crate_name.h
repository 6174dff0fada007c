// The crate name of a generated project.
// Both are checked before anything is generated or written.
#ifndef VELKOR_PROJECT_CRATE_NAME_H_
#define VELKOR_PROJECT_CRATE_NAME_H_

#include <expected>
#include <string>
#include <string_view>

#include "request/compile_spec.h"
#include "support/compile_error.h"

namespace velkor::project {

// The requested "crate_name" unchanged, or else one derived from the
// strategy's string "symbol": one character per Unicode character, ASCII
// letters lowered, ASCII lowercase letters and digits kept, anything else "_".
// The result must match ^[a-z][a-z0-9_]*$. Failures are BadSpec errors whose
// message quotes the candidate in debug form.
std::expected<std::string, CompileError> resolve_crate_name(const CompileSpec& spec);

}  // namespace velkor::project

#endif  // VELKOR_PROJECT_CRATE_NAME_H_
