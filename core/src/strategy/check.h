// How the strategy readers report what they find. The compile check wants the
// first failure and nothing else; the diagnostics pass wants every failure and
// every warning, each with the value it concerns, and the reading to go on past
// a failure with the next value that does not depend on the failed one. Both
// drive the same readers (strategy/record_reader.h and the tables beside it)
// with a different Check, so the two can never disagree on what is a failure.
#ifndef VELKOR_STRATEGY_CHECK_H_
#define VELKOR_STRATEGY_CHECK_H_

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "json/value.h"

namespace velkor::strategy {

// Success, or the first failure's message.
using Status = std::expected<void, std::string>;

// Where in the document a finding stands: at the value, at the key of the
// member holding the value, or at the value's closing bracket (what is found
// missing once a record or tuple has been read).
enum class Anchor : std::uint8_t { kValue, kKey, kEnd };

// An error's code and plain words are derived from its message when it is
// listed (strategy/rule_codes.h); a warning carries its own.
struct Finding {
  bool error;
  const json::Value* at;
  Anchor anchor;
  std::string message;
  std::optional<std::string> suggestion;
  std::string_view code = {};
  std::string plain = {};
};

// A warning as a rule states it.
struct Warning {
  std::string_view code;
  std::string message;
  std::string plain;
  std::optional<std::string> suggestion = std::nullopt;
};

// What only the diagnostics pass knows of the document beyond its value.
struct DocumentFacts {
  std::vector<std::string_view> declared_indicators;  // sorted byte-wise
  // Values whose member key occurs more than once in its object (the later
  // value is the one read), sorted by address.
  std::vector<const json::Value*> repeated_members;
  // Edit-distance table cells that all the suggestions for one document may
  // cost (see closest_name), so that a document built to ask for many costs
  // work linear in its size.
  std::size_t suggestion_budget = 0;
  // The longest period of a declared indicator (strategy/value_rules.h) and
  // the first indicator having it; 0 and empty when none is known.
  double longest_period = 0;  // bars, a whole number
  std::string_view longest_period_indicator;
  // The leverage the strategy allows (1 unless risk.max_leverage says more).
  double leverage = 1;
  // How many problems the report lists: past them a warning is only counted.
  std::size_t listed = static_cast<std::size_t>(-1);
};

// How the readers report. A default Check is the compile check's: nothing is
// recorded and the first failure ends the reading. A collecting Check records
// into `findings`. In collecting mode a failure that was recorded already
// travels up with an empty message, so that each is recorded once.
class Check {
 public:
  Check() = default;
  Check(std::vector<Finding>& findings, const DocumentFacts& facts)
      : findings_(&findings), facts_(&facts), suggestion_budget_(facts.suggestion_budget) {}

  bool collecting() const { return findings_ != nullptr; }
  // What the diagnostics pass knows of the document; only while collecting.
  const DocumentFacts& facts() const { return *facts_; }

  // After a part of `whole` failed: true when the reading must end with that
  // failure. Otherwise the failure is recorded at `at` (unless it was already)
  // and `whole` becomes a failure that was recorded.
  bool ends(const Status& part, const json::Value& at, Status& whole, Anchor anchor = Anchor::kValue);
  // A failure found at `at` rather than at the value being read: returned as
  // it is, or recorded and returned as recorded.
  std::unexpected<std::string> fail_at(const json::Value& at, std::string message, Anchor anchor = Anchor::kValue,
                                       std::optional<std::string> suggestion = std::nullopt);
  void warn(const json::Value& at, Anchor anchor, Warning warning);
  // Past the problems the report lists, a warning at `at` is counted without
  // its words: true when it was (or nothing is recorded at all), so that the
  // caller need not word it.
  bool counted_only(const json::Value& at) {
    if (!collecting()) return true;
    if (findings_->size() < facts_->listed) return false;
    findings_->push_back(Finding{false, &at, Anchor::kValue, {}, std::nullopt});
    return true;
  }

  // The number of findings so far; `discard` drops those recorded after it.
  std::size_t mark() const { return collecting() ? findings_->size() : 0; }
  void discard(std::size_t mark) {
    if (collecting()) findings_->resize(mark);
  }
  const Finding& finding(std::size_t i) const { return (*findings_)[i]; }

  // The name probably meant (see closest_name), paid from the document's
  // suggestion budget; nothing for the compile check, which shows none.
  std::optional<std::string> closest(std::string_view name, std::span<const std::string_view> candidates);

  // A string operand: a warning when it names no declared indicator.
  void indicator_reference(const json::Value& name) {
    if (collecting()) warn_undeclared(name);
  }
  // A member of an object, before it is read: a warning when its key is
  // repeated in the object.
  void member(const json::Member& member) {
    if (collecting()) warn_repeated(member);
  }

 private:
  void warn_undeclared(const json::Value& name);
  void warn_repeated(const json::Member& member);

  std::vector<Finding>* findings_ = nullptr;
  const DocumentFacts* facts_ = nullptr;
  std::size_t suggestion_budget_ = 0;
};

}  // namespace velkor::strategy

#endif  // VELKOR_STRATEGY_CHECK_H_
