// The strategy document check on any document the request reader accepts
// (with the request depth limit, as a compile request reads its strategy).
// Besides not crashing or leaking, the check must be a pure function: the same
// verdict and message twice, the value unchanged, and a message on failure.
// The diagnostics pass over the same text must agree with it: an error exactly
// on a rejection, the first with the rejection's message.
#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "canonical/canonical.h"
#include "fuzz_support.h"
#include "json/reader.h"
#include "strategy/lint.h"
#include "strategy/validate.h"

using velkor::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto value = velkor::json::parse_document(text, velkor::json::Reader::Depth::kLimited);
  if (!value) return -1;

  const std::string before = velkor::canonical_json(*value);
  auto first = velkor::strategy::validate_strategy(*value);
  auto second = velkor::strategy::validate_strategy(*value);
  check(first.has_value() == second.has_value(), "the verdict is repeatable", text);
  if (!first) {
    check(!first.error().empty(), "a rejection has a message", text);
    check(first.error() == second.error(), "the message is repeatable", text);
  }
  check(velkor::canonical_json(*value) == before, "the check leaves the value as it was", text);

  const auto report = velkor::strategy::lint_strategy(text, SIZE_MAX);
  const auto& problems = report.problems;
  const auto error = std::find_if(problems.begin(), problems.end(), [](const velkor::strategy::Problem& p) {
    return p.severity == velkor::strategy::Severity::kError;
  });
  // A strategy may nest two levels less than a request; deeper texts are the reader's fault.
  if (error != problems.end() && error->message == "recursion limit exceeded") return 0;
  const bool no_error = error == problems.end() && report.omitted_errors == 0;
  check(no_error == first.has_value(), "lint finds an error exactly on a rejection", text);
  if (!first && error != problems.end()) {
    check(error->message == first.error(), "lint's first error is the rejection's message", text);
  }
  return 0;
}
