#include "strategy/condition.h"

#include "strategy/price_fields.h"
#include "strategy/value_rules.h"

namespace velkor::strategy {
namespace {

using json::Value;

enum class Payload {
  kPair,           // [operand, operand]
  kTriple,         // [operand, operand, operand]
  kOperandCount,   // [operand, u32]
  kConditions,     // [condition, ...]
  kCondition,      // condition
  kBoolean,        // true / false
  kCount,          // u32
  kBarsComparison, // {"ge": u32}
  kPriceField,     // "close" or {"close": null}
};

struct Form {
  std::string_view name;
  Payload payload;
};

using enum Payload;

constexpr Form kConditionForms[] = {
    {"gt", kPair},           {"lt", kPair},          {"ge", kPair},
    {"le", kPair},           {"eq", kPair},          {"ne", kPair},
    {"cross_above", kPair},  {"cross_below", kPair}, {"between", kTriple},
    {"rising", kOperandCount}, {"falling", kOperandCount},
    {"all", kConditions},    {"any", kConditions},   {"not", kCondition},
    {"in_position", kBoolean}, {"bars_since_entry", kBarsComparison},
};

constexpr Form kBarsComparisonForms[] = {
    {"gt", kCount}, {"lt", kCount}, {"ge", kCount}, {"le", kCount}, {"eq", kCount},
};

constexpr Form kExpressionForms[] = {
    {"price", kPriceField}, {"prev", kOperandCount}, {"add", kPair},
    {"sub", kPair},         {"mul", kPair},          {"div", kPair},
};

Status read_condition_at(const Value& v, int depth, Check& check);
Status read_operand_at(const Value& v, int depth, Check& check);

// A fixed-size array of operands; with `counted`, the last element is a u32
// count instead. Surplus elements are refused only after the others pass.
Status read_tuple(const Value& v, std::size_t size, bool counted, int depth, Check& check) {
  const std::string_view expected = size == 2 ? "a tuple of size 2" : "a tuple of size 3";
  if (!v.is_array()) return wrong_type(v, expected);
  const json::Array& items = v.as_array();
  Status whole;
  for (std::size_t i = 0; i < size; ++i) {
    if (i >= items.size()) {
      if (Status s = fail(json::invalid_length(i, expected)); check.ends(s, v, whole, Anchor::kEnd)) return s;
      return whole;
    }
    Status s = counted && i + 1 == size ? read_u32(items[i], check) : read_operand_at(items[i], depth + 1, check);
    if (check.ends(s, items[i], whole)) return s;
  }
  if (items.size() > size) {
    Status s = fail(json::invalid_length(items.size(), "fewer elements in array"));
    if (check.ends(s, items[size], whole)) return s;
  }
  return whole;
}

Status read_choice(std::span<const Form> forms, const Value& v, int depth, Check& check);

Status read_payload(Payload payload, const Value& v, int depth, Check& check) {
  switch (payload) {
    case kPair: return read_tuple(v, 2, false, depth, check);
    case kTriple: return read_tuple(v, 3, false, depth, check);
    case kOperandCount: return read_tuple(v, 2, true, depth, check);
    case kConditions: {
      if (!v.is_array()) return wrong_type(v, "a sequence");
      Status whole;
      for (const Value& item : v.as_array()) {
        if (Status s = read_condition_at(item, depth + 1, check); check.ends(s, item, whole)) return s;
      }
      return whole;
    }
    case kCondition: return read_condition_at(v, depth + 1, check);
    case kBoolean: return read_boolean(v, check);
    case kCount: return read_u32(v, check);
    case kBarsComparison: return read_choice(kBarsComparisonForms, v, depth, check);
    case kPriceField: return read_name_only(v, kPriceFields, check);
  }
  return {};
}

// A choice whose every name needs a payload.
Status read_choice(std::span<const Form> forms, const Value& v, int depth, Check& check) {
  auto chosen = select_choice(v);
  if (!chosen) return fail(std::move(chosen.error()));
  auto form = find_variant(forms, chosen->name, chosen->name_at(v), chosen->name_anchor(), check);
  if (!form) return fail(std::move(form.error()));
  if (chosen->payload == nullptr) return fail(json::invalid_type("unit variant", "newtype variant"));
  if ((*form)->payload == kConditions) check_condition_list((*form)->name, *chosen->payload, check);
  if ((*form)->name == "between") check_between(*chosen->payload, check);
  Status payload = read_payload((*form)->payload, *chosen->payload, depth, check);
  if (payload || payload.error().empty()) return payload;
  return check.fail_at(*chosen->payload, std::move(payload.error()));
}

Status read_condition_at(const Value& v, int depth, Check& check) {
  if (depth > kMaxNesting) return fail(std::string(kRecursionLimit));
  return read_choice(kConditionForms, v, depth, check);
}

// Tried in order: indicator name, constant, expression. Whatever fails inside
// an expression, the operand as a whole gets the one untagged message: what
// was found inside it is dropped.
Status read_operand_at(const Value& v, int depth, Check& check) {
  if (v.is_string()) {
    check.indicator_reference(v);
    return {};
  }
  if (v.is_number()) return {};
  if (depth > kMaxNesting) return fail(std::string(kRecursionLimit));
  if (!v.is_object()) return fail(std::string(kNoMatchingOperand));
  const std::size_t mark = check.mark();
  Status expression = read_choice(kExpressionForms, v, depth, check);
  if (expression) return expression;
  if (!check.collecting()) return expression.error() == kRecursionLimit ? expression : fail(std::string(kNoMatchingOperand));
  // The first failure inside decides, as it would for the compile check.
  std::string first = expression.error();
  for (std::size_t i = mark; i < check.mark(); ++i) {
    if (check.finding(i).error) {
      first = check.finding(i).message;
      break;
    }
  }
  check.discard(mark);
  return fail(std::string(first == kRecursionLimit ? kRecursionLimit : kNoMatchingOperand));
}

}  // namespace

Status read_condition(const Value& v, Check& check) { return read_condition_at(v, 1, check); }
Status read_operand(const Value& v, Check& check) { return read_operand_at(v, 1, check); }

Status read_condition(const Value& v) {
  Check check;
  return read_condition(v, check);
}
Status read_operand(const Value& v) {
  Check check;
  return read_operand(v, check);
}

}  // namespace velkor::strategy
