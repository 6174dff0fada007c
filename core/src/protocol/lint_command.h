// The "lint" command: every problem of a strategy document's text, for its
// author, beside the compile command's single verdict.
#ifndef VELKOR_PROTOCOL_LINT_COMMAND_H_
#define VELKOR_PROTOCOL_LINT_COMMAND_H_

#include <string>
#include <string_view>

namespace velkor {

// Answers a "lint" command text: {"problems":[...]}, each problem's members in
// the order severity, code, path, line, column, message, plain and, when there
// is one, suggestion; then, only when some problems were left out (past the
// request's `max_problems`, 1000 when absent, or the size bound of
// strategy/lint.h), "omitted":{"errors":E,"warnings":W}. With an
// `embed_data` member (read as a compile request's), the warnings about that
// market data follow the text's problems (strategy/market_data.h); a relative
// CSV path is read below `base_dir` (the working directory when absent). An
// error document when the request cannot be read.
std::string lint_command(std::string_view text);

}  // namespace velkor

#endif  // VELKOR_PROTOCOL_LINT_COMMAND_H_
