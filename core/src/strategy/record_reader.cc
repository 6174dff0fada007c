#include "strategy/record_reader.h"

#include <limits>

namespace velkor::strategy {
namespace {

using json::Value;

const Field* find_field(const Record& record, std::string_view key) {
  for (const Field& field : record.fields) {
    if (field.key == key) return &field;
  }
  return nullptr;
}

Status read_field(const Field& field, const Value& v) {
  if (v.is_null() && field.presence == Presence::kNullable) return {};
  return field.read(v);
}

std::expected<const TaggedVariant*, std::string> read_tag(const TaggedChoice& choice, const Value& tag) {
  if (!tag.is_string()) return wrong_type(tag, "variant identifier");
  return find_variant(choice.variants, tag.as_string());
}

}  // namespace

Status read_members(const Record& record, const json::Object& object) {
  for (const json::Member& member : object) {
    const Field* field = find_field(record, member.key);
    if (field == nullptr) continue;
    if (Status s = read_field(*field, member.value); !s) return s;
  }
  for (const Field& field : record.fields) {
    if (field.presence == Presence::kRequired && object.find(field.key) == nullptr) {
      return fail(json::missing_field(field.key));
    }
  }
  return {};
}

Status read_positional(const Record& record, std::span<const Value> items) {
  for (std::size_t i = 0; i < record.fields.size(); ++i) {
    const Field& field = record.fields[i];
    if (i < items.size()) {
      if (Status s = read_field(field, items[i]); !s) return s;
      continue;
    }
    if (field.presence == Presence::kRequired) {
      return fail(json::invalid_length(i, std::string(record.name) + " with " + json::element_count(record.fields.size())));
    }
  }
  return {};
}

Status read_record(const Record& record, const Value& v) {
  if (v.is_object()) return read_members(record, v.as_object());
  if (!v.is_array()) return wrong_type(v, record.name);
  const json::Array& items = v.as_array();
  if (Status s = read_positional(record, items); !s) return s;
  if (items.size() > record.fields.size()) return fail(json::invalid_length(items.size(), "fewer elements in array"));
  return {};
}

// The tag is identified before any field is read, wherever it stands among the
// members: a bad or missing tag is reported in preference to a bad field.
Status read_tagged_choice(const TaggedChoice& choice, const Value& v) {
  if (v.is_object()) {
    const Value* tag = v.as_object().find("type");
    if (tag == nullptr) return fail(json::missing_field("type"));
    auto variant = read_tag(choice, *tag);
    if (!variant) return fail(std::move(variant.error()));
    return read_members((*variant)->record, v.as_object());
  }
  if (!v.is_array()) return wrong_type(v, choice.name);
  const json::Array& items = v.as_array();
  if (items.empty()) return fail(json::missing_field("type"));
  auto variant = read_tag(choice, items.front());
  if (!variant) return fail(std::move(variant.error()));
  const Record& record = (*variant)->record;
  const std::span<const Value> fields = std::span(items).subspan(1);
  if (Status s = read_positional(record, fields); !s) return s;
  if (fields.size() > record.fields.size()) {
    return fail(json::invalid_length(fields.size(), json::element_count(record.fields.size()) + " in sequence"));
  }
  return {};
}

Status read_u32(const Value& v) {
  if (!v.is_number() || v.number_kind() == json::NumberKind::kDouble) return wrong_type(v, "u32");
  if (v.number_kind() == json::NumberKind::kNegative || v.as_unsigned() > std::numeric_limits<std::uint32_t>::max()) {
    return fail(json::invalid_value(json::unexpected_value(v), "u32"));
  }
  return {};
}

Status read_number(const Value& v) {
  if (!v.is_number()) return wrong_type(v, "f64");
  return {};
}

Status read_string(const Value& v) {
  if (!v.is_string()) return wrong_type(v, "a string");
  return {};
}

Status read_boolean(const Value& v) {
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

Status read_name_only(const Value& v, std::span<const std::string_view> names) {
  auto chosen = select_choice(v);
  if (!chosen) return fail(std::move(chosen.error()));
  if (auto found = find_variant(names, chosen->name); !found) return fail(std::move(found.error()));
  if (chosen->payload != nullptr && !chosen->payload->is_null()) return wrong_type(*chosen->payload, "unit");
  return {};
}

}  // namespace velkor::strategy
