#include "strategy/lint.h"

#include <algorithm>

#include "json/reader.h"
#include "json/value_places.h"
#include "strategy/check.h"
#include "strategy/validate.h"

namespace velkor::strategy {
namespace {

// A compile request holds the strategy at its third level (request, spec,
// strategy), so the strategy's own text may open two levels fewer.
constexpr int kStrategyLevels = json::kRequestDepthLimit - 2;

// Line starts, found only once something is to be reported.
class LineIndex {
 public:
  explicit LineIndex(std::string_view text) : text_(text) {
    starts_.push_back(0);
    for (std::size_t i = text.find('\n'); i != std::string_view::npos; i = text.find('\n', i + 1)) {
      starts_.push_back(i + 1);
    }
  }
  std::size_t line_start(std::size_t line) const { return starts_[line - 1]; }
  std::size_t line_of(std::size_t offset) const {
    return static_cast<std::size_t>(std::upper_bound(starts_.begin(), starts_.end(), offset) - starts_.begin());
  }
  // The characters (UTF-8 sequences) that start in `line` before `offset`.
  std::size_t characters_before(std::size_t line, std::size_t offset) const {
    std::size_t n = 0;
    for (std::size_t i = line_start(line); i < offset && i < text_.size(); ++i) {
      if ((static_cast<unsigned char>(text_[i]) & 0xc0) != 0x80) ++n;
    }
    return n;
  }

 private:
  std::string_view text_;
  std::vector<std::size_t> starts_;
};

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

std::vector<Problem> lint_strategy(std::string_view text) {
  std::vector<Problem> problems;
  auto root = json::parse_document(text, json::Reader::Depth::kLimited, kStrategyLevels);
  if (!root) {
    const json::ReadError& fault = root.error();
    const LineIndex lines(text);
    const std::size_t line = std::max<std::size_t>(fault.line, 1);
    const std::size_t column = lines.characters_before(line, lines.line_start(line) + fault.column);
    problems.push_back(Problem{Severity::kError, "", line, std::max<std::size_t>(column, 1), fault.description, {}});
    return problems;
  }

  const json::ValuePlaces places(text, *root);
  const DocumentFacts facts{declared_indicators(*root), places.repeated_members()};
  std::vector<Finding> findings;
  Check check(findings, facts);
  if (Status s = validate_strategy(*root, check); !s && !s.error().empty()) {
    findings.push_back(Finding{true, &*root, Anchor::kValue, s.error(), std::nullopt});
  }
  if (findings.empty()) return problems;

  const LineIndex lines(text);
  problems.reserve(findings.size());
  for (Finding& f : findings) {
    // Every finding concerns a value of the document, so it has a place.
    const json::Place* place = places.find(f.at);
    const std::size_t offset = place != nullptr ? offset_of(*place, f.anchor) : 0;
    const std::size_t line = lines.line_of(offset);
    problems.push_back(Problem{f.error ? Severity::kError : Severity::kWarning, places.pointer(f.at), line,
                               lines.characters_before(line, offset) + 1, std::move(f.message),
                               std::move(f.suggestion)});
  }
  return problems;
}

}  // namespace velkor::strategy
