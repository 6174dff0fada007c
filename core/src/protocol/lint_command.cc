#include "protocol/lint_command.h"

#include "protocol/response.h"
#include "request/string_request.h"
#include "strategy/lint.h"

namespace velkor {

std::string lint_command(std::string_view text) {
  auto request = request::read_lint_request(text);
  if (!request) return error_document("bad lint request: " + request.error().text());
  const strategy::LintReport report = strategy::lint_strategy(
      request->text, static_cast<std::size_t>(request->max_problems.value_or(strategy::kDefaultMaxProblems)));
  std::string answer;
  ObjectWriter writer(answer);
  // The problems are written into the answer in place: a large answer is held once.
  std::string& out = writer.member("problems");
  out.push_back('[');
  bool first = true;
  for (const strategy::Problem& p : report.problems) {
    if (!first) out.push_back(',');
    first = false;
    ObjectWriter problem(out);
    problem.string("severity", p.severity == strategy::Severity::kError ? "error" : "warning")
        .string("code", p.code)
        .string("path", p.path)
        .unsigned_integer("line", p.line)
        .unsigned_integer("column", p.column)
        .string("message", p.message)
        .string("plain", p.plain);
    if (p.suggestion) problem.string("suggestion", *p.suggestion);
    problem.close();
  }
  out.push_back(']');
  if (report.omitted_errors + report.omitted_warnings > 0) {
    std::string omitted;
    ObjectWriter(omitted)
        .unsigned_integer("errors", report.omitted_errors)
        .unsigned_integer("warnings", report.omitted_warnings)
        .close();
    writer.raw("omitted", omitted);
  }
  writer.close();
  return answer;
}

}  // namespace velkor
