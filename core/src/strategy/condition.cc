#include "strategy/condition.h"

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

constexpr std::string_view kPriceFields[] = {"open", "high", "low", "close", "volume", "hlc3", "ohlc4"};

Status read_condition_at(const Value& v, int depth);
Status read_operand_at(const Value& v, int depth);

// A fixed-size array of operands; with `counted`, the last element is a u32
// count instead. Surplus elements are refused only after the others pass.
Status read_tuple(const Value& v, std::size_t size, bool counted, int depth) {
  const std::string_view expected = size == 2 ? "a tuple of size 2" : "a tuple of size 3";
  if (!v.is_array()) return wrong_type(v, expected);
  const json::Array& items = v.as_array();
  for (std::size_t i = 0; i < size; ++i) {
    if (i >= items.size()) return fail(json::invalid_length(i, expected));
    Status s = counted && i + 1 == size ? read_u32(items[i]) : read_operand_at(items[i], depth + 1);
    if (!s) return s;
  }
  if (items.size() > size) return fail(json::invalid_length(items.size(), "fewer elements in array"));
  return {};
}

Status read_choice(std::span<const Form> forms, const Value& v, int depth);

Status read_payload(Payload payload, const Value& v, int depth) {
  switch (payload) {
    case kPair: return read_tuple(v, 2, false, depth);
    case kTriple: return read_tuple(v, 3, false, depth);
    case kOperandCount: return read_tuple(v, 2, true, depth);
    case kConditions:
      if (!v.is_array()) return wrong_type(v, "a sequence");
      for (const Value& item : v.as_array()) {
        if (Status s = read_condition_at(item, depth + 1); !s) return s;
      }
      return {};
    case kCondition: return read_condition_at(v, depth + 1);
    case kBoolean: return read_boolean(v);
    case kCount: return read_u32(v);
    case kBarsComparison: return read_choice(kBarsComparisonForms, v, depth);
    case kPriceField: return read_name_only(v, kPriceFields);
  }
  return {};
}

// A choice whose every name needs a payload.
Status read_choice(std::span<const Form> forms, const Value& v, int depth) {
  auto chosen = select_choice(v);
  if (!chosen) return fail(std::move(chosen.error()));
  auto form = find_variant(forms, chosen->name);
  if (!form) return fail(std::move(form.error()));
  if (chosen->payload == nullptr) return fail(json::invalid_type("unit variant", "newtype variant"));
  return read_payload((*form)->payload, *chosen->payload, depth);
}

Status read_condition_at(const Value& v, int depth) {
  if (depth > kMaxNesting) return fail(std::string(kRecursionLimit));
  return read_choice(kConditionForms, v, depth);
}

// Tried in order: indicator name, constant, expression. Whatever fails inside
// an expression, the operand as a whole gets the one untagged message.
Status read_operand_at(const Value& v, int depth) {
  if (v.is_string() || v.is_number()) return {};
  if (depth > kMaxNesting) return fail(std::string(kRecursionLimit));
  if (!v.is_object()) return fail(std::string(kNoMatchingOperand));
  Status expression = read_choice(kExpressionForms, v, depth);
  if (expression || expression.error() == kRecursionLimit) return expression;
  return fail(std::string(kNoMatchingOperand));
}

}  // namespace

Status read_condition(const Value& v) { return read_condition_at(v, 1); }
Status read_operand(const Value& v) { return read_operand_at(v, 1); }

}  // namespace velkor::strategy
