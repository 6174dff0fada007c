#include "strategy/check.h"

#include <algorithm>
#include <functional>

#include "strategy/closest_name.h"
#include "strategy/price_fields.h"
#include "strategy/rule_codes.h"

namespace velkor::strategy {

bool Check::ends(const Status& part, const json::Value& at, Status& whole, Anchor anchor) {
  if (part) return false;
  if (!collecting()) return true;
  if (!part.error().empty()) findings_->push_back(Finding{true, &at, anchor, part.error(), std::nullopt});
  whole = std::unexpected(std::string());
  return false;
}

std::unexpected<std::string> Check::fail_at(const json::Value& at, std::string message, Anchor anchor,
                                            std::optional<std::string> suggestion) {
  if (!collecting()) return std::unexpected(std::move(message));
  findings_->push_back(Finding{true, &at, anchor, std::move(message), std::move(suggestion)});
  return std::unexpected(std::string());
}

void Check::warn(const json::Value& at, Anchor anchor, Warning warning) {
  if (!collecting()) return;
  findings_->push_back(Finding{false, &at, anchor, std::move(warning.message), std::move(warning.suggestion),
                               warning.code, std::move(warning.plain)});
}

std::optional<std::string> Check::closest(std::string_view name, std::span<const std::string_view> candidates) {
  if (!collecting()) return std::nullopt;
  return closest_name(name, candidates, &suggestion_budget_);
}

void Check::warn_undeclared(const json::Value& name) {
  const std::vector<std::string_view>& declared = facts_->declared_indicators;
  if (std::binary_search(declared.begin(), declared.end(), name.as_string()) || counted_only(name)) return;
  // Copied only for a warning: most references name a declared indicator.
  const std::string text(name.as_string());
  std::string message = "no indicator named `" + text + "` is declared";
  std::string plain = "no indicator in \"indicators\" is named `" + text + "`";
  // A bare price name reads as an indicator reference; the price is an expression.
  if (std::ranges::find(kPriceFields, std::string_view(text)) != std::end(kPriceFields)) {
    const std::string hint = "; the bar's " + text + " is written {\"price\": \"" + text + "\"}";
    message += hint;
    plain += hint;
  }
  warn(name, Anchor::kValue, Warning{rule::kUndeclaredIndicator, std::move(message), std::move(plain),
                                     closest(text, declared)});
}

void Check::warn_repeated(const json::Member& member) {
  const std::vector<const json::Value*>& repeated = facts_->repeated_members;
  if (repeated.empty() ||
      !std::binary_search(repeated.begin(), repeated.end(), &member.value, std::less<const json::Value*>())) {
    return;
  }
  if (counted_only(member.value)) return;
  warn(member.value, Anchor::kKey,
       Warning{rule::kRepeatedKey, "duplicate field `" + member.key + "`: only its last value is read",
               "the member `" + member.key + "` is given more than once in this object; only its last value counts"});
}

}  // namespace velkor::strategy
