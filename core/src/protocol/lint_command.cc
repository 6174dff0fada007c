#include "protocol/lint_command.h"

#include <algorithm>

#include "project/path_join.h"
#include "protocol/response.h"
#include "request/string_request.h"
#include "strategy/lint.h"
#include "strategy/market_data.h"

namespace velkor {

std::string lint_command(std::string_view text) {
  auto request = request::read_lint_request(text);
  if (!request) return error_document("bad lint request: " + request.error().text());
  const auto max_problems = static_cast<std::size_t>(request->max_problems.value_or(strategy::kDefaultMaxProblems));
  strategy::LintReport report = strategy::lint_strategy(request->text, max_problems);
  if (request->embed_data) {
    // A relative CSV path names the file the compile would read from `base_dir`.
    const std::string csv_path = project::join_path(request->base_dir, request->embed_data->path);
    // Nothing is listed past a problem left out.
    const bool cut = report.omitted_errors + report.omitted_warnings > 0;
    const std::size_t room = cut ? 0 : max_problems - std::min(max_problems, report.problems.size());
    strategy::DataReport data = strategy::lint_market_data(*request->embed_data, csv_path, room);
    for (strategy::Problem& p : data.problems) report.problems.push_back(std::move(p));
    report.omitted_warnings += data.omitted;
  }
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
