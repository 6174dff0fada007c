#include "protocol/lint_command.h"

#include <algorithm>

#include "protocol/response.h"
#include "request/string_request.h"
#include "strategy/lint.h"
#include "strategy/market_data.h"
#include "support/path_join.h"

namespace velkor {

std::string lint_command(std::string_view text) {
  auto request = request::read_lint_request(text);
  if (!request) return error_document("bad lint request: " + request.error().text());
  const auto max_problems = static_cast<std::size_t>(request->max_problems.value_or(strategy::kDefaultMaxProblems));
  strategy::LintReport report = strategy::lint_strategy(request->text, max_problems);
  if (request->embed_data) {
    const DatasetRef& embed = *request->embed_data;
    // Nothing is listed past a problem left out.
    const bool cut = report.omitted_errors + report.omitted_warnings > 0;
    const std::size_t room = cut ? 0 : max_problems - std::min(max_problems, report.problems.size());
    // A relative CSV path names the file the compile would read from `base_dir`.
    strategy::DataReport data =
        embed.kind == DatasetRef::Kind::kCsv
            ? strategy::lint_csv_candles(embed.path, join_path(request->base_dir, embed.path), room)
            : strategy::lint_inline_candles(embed.candles_json, room);
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
