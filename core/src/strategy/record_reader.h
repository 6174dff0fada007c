// The reading rules every record and choice of the strategy schema follows,
// written once and driven by small tables of fields and variants.
//
// A reader only checks form: it returns success or the message of the first
// failure, exactly as the user reads it (without the caller's prefix).
//
// The same readers serve the compile check and the diagnostics pass, through
// the `Check` they are handed (strategy/check.h).
#ifndef VELKOR_STRATEGY_RECORD_READER_H_
#define VELKOR_STRATEGY_RECORD_READER_H_

#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "json/messages.h"
#include "json/value.h"
#include "strategy/check.h"

namespace velkor::strategy {

inline std::unexpected<std::string> fail(std::string message) { return std::unexpected(std::move(message)); }

// Checks one JSON value against one part of the schema.
using Reader = Status (*)(const json::Value&, Check&);

// "invalid type: {v rendered}, expected {expected}"
inline std::unexpected<std::string> wrong_type(const json::Value& v, std::string_view expected) {
  return fail(json::invalid_type(json::unexpected_value(v), expected));
}

enum class Presence : std::uint8_t {
  kOptional,  // may be left out; null is read like any other value (and refused)
  kNullable,  // may be left out; null means the same as left out
  kRequired,  // "missing field `{key}`" when left out
};

struct Field {
  std::string_view key;
  Reader read;
  Presence presence = Presence::kOptional;
};

// A record: given as an object (members by key, unknown keys ignored) or as an
// array read by position (element i is field i).
struct Record {
  std::string_view name;  // "struct Costs", "struct variant Sizing::VolTarget"
  std::span<const Field> fields;
};

// Object or array; any other value is "invalid type: ..., expected {name}".
// Arrays longer than the record are refused after their elements pass.
Status read_record(const Record& record, const json::Value& v, Check& check);
// Members in document order, then the required fields in declaration order.
// A member keyed `tag` is the caller's (the tag of a choice), not unknown.
Status read_members(const Record& record, const json::Value& object, Check& check, std::string_view tag = {});
// Element i as field i; missing trailing optional fields are defaulted, a
// missing required field is "invalid length {i}, expected {name} with {n} elements".
// Surplus elements are left to the caller, whose message differs.
Status read_positional(const Record& record, const json::Value& array, std::span<const json::Value> items,
                       Check& check);

// A choice named by its "type" member (object) or first element (array); the
// rest are the chosen variant's fields.
struct TaggedVariant {
  std::string_view name;  // the "type" value
  Record record;
};
struct TaggedChoice {
  std::string_view name;  // "internally tagged enum Sizing"
  std::span<const TaggedVariant> variants;
};
Status read_tagged_choice(const TaggedChoice& choice, const json::Value& v, Check& check);

Status read_u32(const json::Value& v, Check& check);
Status read_number(const json::Value& v, Check& check);
Status read_string(const json::Value& v, Check& check);
Status read_boolean(const json::Value& v, Check& check);

// A choice given as a bare name ("close") or as an object with exactly one
// member ({"close": null}, {"gt": [a, b]}). `payload` is null for a bare name.
struct ChosenName {
  std::string_view name;
  const json::Value* payload;

  // Where the name stands: the key of the one member, or the bare string.
  const json::Value& name_at(const json::Value& choice) const { return payload ? *payload : choice; }
  Anchor name_anchor() const { return payload ? Anchor::kKey : Anchor::kValue; }
};
std::expected<ChosenName, std::string> select_choice(const json::Value& v);

// A choice whose names carry no payload; {"name": null} means "name".
Status read_name_only(const json::Value& v, std::span<const std::string_view> names, Check& check);

// The variant called `name`, or "unknown variant `{name}`, expected {alternatives}",
// found where the name stands (`at`, `anchor`). Variants are either plain names
// or table rows with a `name` member.
template <class Variant>
std::expected<const Variant*, std::string> find_variant(std::span<const Variant> variants, std::string_view name,
                                                        const json::Value& at, Anchor anchor, Check& check) {
  auto name_of = [](const Variant& v) -> std::string_view {
    if constexpr (std::is_same_v<Variant, std::string_view>) {
      return v;
    } else {
      return v.name;
    }
  };
  for (const Variant& v : variants) {
    if (name_of(v) == name) return &v;
  }
  std::vector<std::string_view> names;
  for (const Variant& v : variants) names.push_back(name_of(v));
  return check.fail_at(at, json::unknown_variant(name, names), anchor, check.closest(name, names));
}

}  // namespace velkor::strategy

#endif  // VELKOR_STRATEGY_RECORD_READER_H_
