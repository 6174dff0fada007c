#include "strategy/lint.h"

#include <algorithm>
#include <numeric>
#include <span>
#include <utility>

#include "json/reader.h"
#include "json/value_places.h"
#include "strategy/check.h"
#include "strategy/rule_codes.h"
#include "strategy/validate.h"
#include "strategy/value_rules.h"

namespace velkor::strategy {
namespace {

// A compile request holds the strategy at its third level (request, spec,
// strategy), so the strategy's own text may open two levels fewer.
constexpr int kStrategyLevels = json::kRequestDepthLimit - 2;

// What the listed problems' texts may add up to, beyond two bytes a byte of
// the document.
constexpr std::size_t kProblemTextFloor = std::size_t{1} << 18;

// Edit-distance cells that suggestions for undeclared indicators may cost:
// enough for every suggestion an ordinary document asks for (names that share
// their start or end cost only the rest), and linear in the text for one
// built to ask for many: a cell costs about half what reading a byte of the
// document does, so all suggestions together cost at most about half a dry
// run of the same text beyond the floor.
constexpr std::size_t kSuggestionCellsFloor = std::size_t{1} << 16;
constexpr std::size_t kSuggestionCellsPerByte = 1;

struct Position {
  std::size_t line;    // 1-based
  std::size_t column;  // 1-based, in characters (UTF-8 sequences)
};

// The positions of `offsets`, in one pass over the text up to the last of
// them: the line and column are carried from one offset to the next instead
// of being counted again from the start of the line.
std::vector<Position> positions(std::string_view text, std::span<const std::size_t> offsets) {
  std::vector<std::size_t> order(offsets.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return offsets[a] < offsets[b]; });
  std::vector<Position> out(offsets.size());
  Position here{1, 1};
  std::size_t i = 0;
  for (std::size_t k : order) {
    for (const std::size_t target = std::min(offsets[k], text.size()); i < target; ++i) {
      const auto byte = static_cast<unsigned char>(text[i]);
      if (byte == '\n') {
        here = Position{here.line + 1, 1};
      } else if ((byte & 0xc0) != 0x80) {
        ++here.column;
      }
    }
    out[k] = here;
  }
  return out;
}

// The offset of a reader's fault: `column` bytes into line `line`.
std::size_t fault_offset(std::string_view text, std::size_t line, std::size_t column) {
  std::size_t start = 0;
  for (std::size_t l = 1; l < line; ++l) {
    const std::size_t newline = text.find('\n', start);
    if (newline == std::string_view::npos) break;
    start = newline + 1;
  }
  return start + column;
}

// The one problem of a text that is not JSON, at the reader's fault; a
// trailing comma is shown at the comma rather than at the bracket after it.
Problem syntax_problem(std::string_view text, const json::ReadError& fault) {
  auto is_space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  std::size_t line = std::max<std::size_t>(fault.line, 1);
  std::size_t offset = fault_offset(text, line, fault.column);
  bool at_comma = false;
  if (fault.description == "trailing comma" && offset >= 1 && offset <= text.size()) {
    std::size_t i = offset - 1;  // the bracket
    while (i > 0 && is_space(text[i - 1])) --i;
    if (i > 0 && text[i - 1] == ',') {
      offset = i;
      at_comma = true;
    }
  }
  const Position at = positions(text, std::span(&offset, 1)).front();
  if (at_comma) line = at.line;
  return Problem{Severity::kError, rule::kNotJson, "", line, std::max<std::size_t>(at.column - 1, 1),
                 fault.description, rule::explain_syntax(fault.description), {}};
}

std::vector<std::string_view> declared_indicators(const json::Value& root) {
  const json::Value* indicators = nullptr;
  if (root.is_object()) indicators = root.as_object().find("indicators");
  if (root.is_array() && root.as_array().size() > 4) indicators = &root.as_array()[4];
  std::vector<std::string_view> names;
  if (indicators == nullptr || !indicators->is_object()) return names;
  for (const json::Member& m : indicators->as_object()) names.push_back(m.key);
  std::sort(names.begin(), names.end());
  return names;
}

std::size_t offset_of(const json::Place& place, Anchor anchor) {
  if (anchor == Anchor::kKey && place.key != json::Place::kNone) return place.key;
  if (anchor == Anchor::kEnd) return place.end;
  return place.value;
}

}  // namespace

LintReport lint_strategy(std::string_view text, std::size_t max_problems) {
  LintReport report;
  json::TextPlaces text_places;
  auto root = json::parse_document_with_places(text, text_places, json::Reader::Depth::kLimited, kStrategyLevels);
  if (!root) {
    Problem problem = syntax_problem(text, root.error());
    if (max_problems == 0) {
      report.omitted_errors = 1;
    } else {
      report.problems.push_back(std::move(problem));
    }
    return report;
  }

  json::ValuePlaces places(text, text_places, *root);
  const std::size_t suggestion_cells = kSuggestionCellsFloor + kSuggestionCellsPerByte * text.size();
  const LongestPeriod longest = longest_period(*root);
  const DocumentFacts facts{declared_indicators(*root), places.repeated_members(), suggestion_cells, longest.bars,
                            longest.indicator, allowed_leverage(*root), max_problems};
  std::vector<Finding> findings;
  Check check(findings, facts);
  if (Status s = validate_strategy(*root, check); !s && !s.error().empty()) {
    findings.push_back(Finding{true, &*root, Anchor::kValue, s.error(), std::nullopt});
  }
  if (findings.empty()) return report;

  // Only the problems that may be listed are placed in the text.
  const std::size_t listed = std::min(findings.size(), max_problems);
  std::vector<const json::Value*> values;
  values.reserve(listed);
  for (std::size_t i = 0; i < listed; ++i) values.push_back(findings[i].at);
  places.locate(std::move(values));
  std::vector<std::size_t> offsets;
  offsets.reserve(listed);
  for (std::size_t i = 0; i < listed; ++i) {
    // Every finding concerns a value of the document, so it has a place.
    const json::Place* place = places.find(findings[i].at);
    offsets.push_back(place != nullptr ? offset_of(*place, findings[i].anchor) : 0);
  }
  const std::vector<Position> at = positions(text, offsets);

  const std::size_t text_budget = kProblemTextFloor + 2 * text.size();
  std::size_t text_bytes = 0;
  bool full = false;
  report.problems.reserve(listed);
  for (std::size_t i = 0; i < findings.size(); ++i) {
    Finding& f = findings[i];
    if (i < listed && !full) {
      if (f.error) {
        rule::Explained explained = rule::explain_error(f.message);
        f.code = explained.code;
        f.plain = std::move(explained.plain);
      }
      std::string path = places.pointer(f.at);
      text_bytes += path.size() + f.message.size() + f.plain.size() + (f.suggestion ? f.suggestion->size() : 0);
      if (i == 0 || text_bytes <= text_budget) {
        report.problems.push_back(Problem{f.error ? Severity::kError : Severity::kWarning, f.code, std::move(path),
                                          at[i].line, at[i].column, std::move(f.message), std::move(f.plain),
                                          std::move(f.suggestion)});
        continue;
      }
      full = true;
    }
    ++(f.error ? report.omitted_errors : report.omitted_warnings);
  }
  return report;
}

}  // namespace velkor::strategy
