#include "strategy/record_reader.h"

#include <algorithm>
#include <limits>

#include "strategy/rule_codes.h"

namespace velkor::strategy {
namespace {

using json::Value;

// Field keys are short and mostly differ in length or first byte: those are
// compared before the bytes, which spares a library call per field passed over.
const Field* find_field(const Record& record, std::string_view key) {
  for (const Field& field : record.fields) {
    if (field.key.size() == key.size() && (key.empty() || field.key.front() == key.front()) && field.key == key) {
      return &field;
    }
  }
  return nullptr;
}

Status read_field(const Field& field, const Value& v, Check& check) {
  if (v.is_null() && field.presence == Presence::kNullable) return {};
  return field.read(v, check);
}

void warn_unknown(const Record& record, const json::Member& member, Check& check) {
  if (!check.collecting() || check.counted_only(member.value)) return;
  std::vector<std::string_view> keys;
  for (const Field& field : record.fields) keys.push_back(field.key);
  check.warn(member.value, Anchor::kKey,
             Warning{rule::kUnknownField, "unknown field `" + member.key + "`",
                     "this object takes no member `" + member.key + "`; it is ignored", check.closest(member.key, keys)});
}

std::expected<const TaggedVariant*, std::string> read_tag(const TaggedChoice& choice, const Value& tag,
                                                          Check& check) {
  if (!tag.is_string()) return check.fail_at(tag, json::invalid_type(json::unexpected_value(tag), "variant identifier"));
  return find_variant(choice.variants, tag.as_string(), tag, Anchor::kValue, check);
}

}  // namespace

Status read_members(const Record& record, const Value& v, Check& check, std::string_view tag) {
  const json::Object& object = v.as_object();
  Status whole;
  std::size_t required_present = 0;
  for (const json::Member& member : object) {
    check.member(member);
    const Field* field = find_field(record, member.key);
    if (field == nullptr) {
      if (check.collecting() && member.key != tag) warn_unknown(record, member, check);
      continue;
    }
    if (field->presence == Presence::kRequired) ++required_present;
    if (Status s = read_field(*field, member.value, check); check.ends(s, member.value, whole)) return s;
  }
  // Keys are unique, so when every required field was met none is missing and
  // the fields need not be looked up again.
  const auto required = std::ranges::count(record.fields, Presence::kRequired, &Field::presence);
  if (static_cast<std::size_t>(required) == required_present) return whole;
  for (const Field& field : record.fields) {
    if (field.presence == Presence::kRequired && object.find(field.key) == nullptr) {
      if (Status s = fail(json::missing_field(field.key)); check.ends(s, v, whole, Anchor::kEnd)) return s;
    }
  }
  return whole;
}

Status read_positional(const Record& record, const Value& array, std::span<const Value> items, Check& check) {
  Status whole;
  for (std::size_t i = 0; i < record.fields.size(); ++i) {
    const Field& field = record.fields[i];
    if (i < items.size()) {
      if (Status s = read_field(field, items[i], check); check.ends(s, items[i], whole)) return s;
      continue;
    }
    if (field.presence == Presence::kRequired) {
      const std::string expected = std::string(record.name) + " with " + json::element_count(record.fields.size());
      if (Status s = fail(json::invalid_length(i, expected)); check.ends(s, array, whole, Anchor::kEnd)) return s;
      return whole;
    }
  }
  return whole;
}

Status read_record(const Record& record, const Value& v, Check& check) {
  if (v.is_object()) return read_members(record, v, check);
  if (!v.is_array()) return wrong_type(v, record.name);
  const json::Array& items = v.as_array();
  Status whole = read_positional(record, v, items, check);
  if (!whole && !check.collecting()) return whole;
  if (items.size() > record.fields.size()) {
    Status s = fail(json::invalid_length(items.size(), "fewer elements in array"));
    if (check.ends(s, items[record.fields.size()], whole)) return s;
  }
  return whole;
}

// The tag is identified before any field is read, wherever it stands among the
// members: a bad or missing tag is reported in preference to a bad field, and
// without a variant no field can be read.
Status read_tagged_choice(const TaggedChoice& choice, const Value& v, Check& check) {
  if (v.is_object()) {
    const Value* tag = v.as_object().find("type");
    if (tag == nullptr) return check.fail_at(v, json::missing_field("type"), Anchor::kEnd);
    auto variant = read_tag(choice, *tag, check);
    if (!variant) return fail(std::move(variant.error()));
    return read_members((*variant)->record, v, check, "type");
  }
  if (!v.is_array()) return wrong_type(v, choice.name);
  const json::Array& items = v.as_array();
  if (items.empty()) return check.fail_at(v, json::missing_field("type"), Anchor::kEnd);
  auto variant = read_tag(choice, items.front(), check);
  if (!variant) return fail(std::move(variant.error()));
  const Record& record = (*variant)->record;
  const std::span<const Value> fields = std::span(items).subspan(1);
  Status whole = read_positional(record, v, fields, check);
  if (!whole && !check.collecting()) return whole;
  if (fields.size() > record.fields.size()) {
    Status s = fail(json::invalid_length(fields.size(), json::element_count(record.fields.size()) + " in sequence"));
    if (check.ends(s, fields[record.fields.size()], whole)) return s;
  }
  return whole;
}

Status read_u32(const Value& v, Check&) {
  if (!v.is_number() || v.number_kind() == json::NumberKind::kDouble) return wrong_type(v, "u32");
  if (v.number_kind() == json::NumberKind::kNegative || v.as_unsigned() > std::numeric_limits<std::uint32_t>::max()) {
    return fail(json::invalid_value(json::unexpected_value(v), "u32"));
  }
  return {};
}

Status read_number(const Value& v, Check&) {
  if (!v.is_number()) return wrong_type(v, "f64");
  return {};
}

Status read_string(const Value& v, Check&) {
  if (!v.is_string()) return wrong_type(v, "a string");
  return {};
}

Status read_boolean(const Value& v, Check&) {
  if (!v.is_bool()) return wrong_type(v, "a boolean");
  return {};
}

std::expected<ChosenName, std::string> select_choice(const Value& v) {
  if (v.is_string()) return ChosenName{v.as_string(), nullptr};
  if (!v.is_object()) return wrong_type(v, "string or map");
  const json::Object& object = v.as_object();
  if (object.size() != 1) return fail(json::invalid_value(json::kUnexpectedMap, "map with a single key"));
  const json::Member& member = object.members().front();
  return ChosenName{member.key, &member.value};
}

Status read_name_only(const Value& v, std::span<const std::string_view> names, Check& check) {
  auto chosen = select_choice(v);
  if (!chosen) return fail(std::move(chosen.error()));
  auto found = find_variant(names, chosen->name, chosen->name_at(v), chosen->name_anchor(), check);
  if (!found) return fail(std::move(found.error()));
  if (chosen->payload != nullptr && !chosen->payload->is_null()) {
    return check.fail_at(*chosen->payload, json::invalid_type(json::unexpected_value(*chosen->payload), "unit"));
  }
  return {};
}

}  // namespace velkor::strategy
