// The author's view of a strategy document: every problem in its text, where
// it is and what was probably meant, where the compile check gives only the
// first failure, without a position.
#ifndef VELKOR_STRATEGY_LINT_H_
#define VELKOR_STRATEGY_LINT_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velkor::strategy {

enum class Severity : std::uint8_t { kError, kWarning };

struct Problem {
  Severity severity;
  std::string_view code;  // "VK" and three digits (strategy/rule_codes.h)
  std::string path;    // JSON Pointer into the document ("" for the whole document)
  std::size_t line;    // 1-based
  std::size_t column;  // 1-based, in characters
  std::string message;  // an error's is the compile check's reason, unchanged
  std::string plain;    // the same problem in plain words for people
  std::optional<std::string> suggestion;
};

// The problems listed, and how many of each severity were left out.
struct LintReport {
  std::vector<Problem> problems;
  std::size_t omitted_errors = 0;
  std::size_t omitted_warnings = 0;
};

// How many problems a report lists when the caller does not say.
inline constexpr std::size_t kDefaultMaxProblems = 1000;

// Every problem of a strategy document's text, in the order the compile check
// meets them (document order; a member whose key is repeated is met where the
// key first stands).
// - Errors are the failures the compile check finds, each with the compile
//   check's message; reading goes on past each, skipping only the value it
//   makes meaningless. So there is no error exactly when the compile check
//   accepts the document, and the first error's message is its reason. A text
//   that is not JSON gives one error with the reader's description, at the
//   fault. Nesting is limited as for a strategy inside a compile request.
// - Warnings: a member no record knows, a key repeated in one object, a
//   string operand that names no declared indicator, and a value that passes
//   the check but is plainly wrong (strategy/value_rules.h).
// Each problem carries its rule code and plain words (strategy/rule_codes.h).
// Positions point at the key for a member's problem, at the value for a
// value's, and at the closing bracket for what is missing from an array or
// object.
// The report lists the first `max_problems` problems and counts the rest. It
// also stops listing before a problem that would bring the bytes of the listed
// problems' paths, messages and suggestions past 256 KiB plus twice the
// text (a pointer repeats every key above its value, so listing all would grow
// with the square of a text built for it); the first problem is always listed.
// The work is linear in the text whatever its shape.
LintReport lint_strategy(std::string_view text, std::size_t max_problems = kDefaultMaxProblems);

}  // namespace velkor::strategy

#endif  // VELKOR_STRATEGY_LINT_H_
