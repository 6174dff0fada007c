#include "protocol/lint_command.h"

#include "protocol/response.h"
#include "request/string_request.h"
#include "strategy/lint.h"

namespace velkor {

std::string lint_command(std::string_view text) {
  auto document = request::read_string_request(text, "LintReq", "text");
  if (!document) return error_document("bad lint request: " + document.error().text());
  std::string problems = "[";
  for (const strategy::Problem& p : strategy::lint_strategy(*document)) {
    if (problems.size() > 1) problems.push_back(',');
    ObjectWriter problem(problems);
    problem.string("severity", p.severity == strategy::Severity::kError ? "error" : "warning")
        .string("path", p.path)
        .unsigned_integer("line", p.line)
        .unsigned_integer("column", p.column)
        .string("message", p.message);
    if (p.suggestion) problem.string("suggestion", *p.suggestion);
    problem.close();
  }
  problems.push_back(']');
  std::string answer;
  ObjectWriter(answer).raw("problems", problems).close();
  return answer;
}

}  // namespace velkor
