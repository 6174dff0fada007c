#include "request/record.h"

#include <algorithm>
#include <bitset>
#include <cstdlib>

#include "canonical/canonical_from_text.h"
#include "json/messages.h"

namespace velkor::request {

using json::Reader;
using json::ReadResult;
using json::unpositioned;

namespace {

// Field tables are fixed in the code and small (the largest has six fields),
// so which fields were seen fits a set of bits kept in place.
constexpr std::size_t kMaxFields = 16;

ReadResult<void> visit_object(Reader& reader, std::span<const TextField> fields) {
  // A larger table is a fault in the code, stopped here on its first use
  // rather than read past the set.
  if (fields.size() > kMaxFields) std::abort();
  std::bitset<kMaxFields> seen;
  bool first = true;
  std::string key;
  for (;;) {
    auto more = reader.next_key(first, key);
    if (!more) return std::unexpected(more.error());
    if (!*more) break;
    std::size_t i = 0;
    while (i < fields.size() && fields[i].name != key) ++i;
    if (i < fields.size() && seen[i]) return unpositioned(json::duplicate_field(fields[i].name));
    if (auto colon = reader.parse_colon(); !colon) return colon;
    if (i == fields.size()) {
      // Nobody reads it, so its nesting is not the request's (as in the envelope).
      if (auto skipped = reader.skip_value(Reader::Depth::kUnlimited); !skipped) return skipped;
      continue;
    }
    seen[i] = true;
    if (auto read = fields[i].read(reader); !read) return read;
  }
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (fields[i].required && !seen[i]) return unpositioned(json::missing_field(fields[i].name));
  }
  return {};
}

ReadResult<void> visit_array(Reader& reader, std::string_view name, std::span<const TextField> fields) {
  bool first = true;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    auto more = reader.next_element(first);
    if (!more) return std::unexpected(more.error());
    if (*more) {
      if (auto read = fields[i].read(reader); !read) return read;
      continue;
    }
    if (fields[i].required) {
      return unpositioned(json::invalid_length(i, "struct " + std::string(name) + " with " + json::element_count(fields.size())));
    }
  }
  return {};
}

// Runs `visit` inside the brackets of an object or array the way every
// container is framed: one nesting level, the closing bracket consumed even
// after a fault (its own fault then ignored), unpositioned faults placed there.
template <typename Visit>
auto framed(Reader& reader, bool object, Visit visit) -> decltype(visit()) {
  if (auto level = reader.enter_level(); !level) return std::unexpected(level.error());
  reader.eat();
  auto outcome = visit();
  reader.leave_level();
  auto end = object ? reader.end_object() : reader.end_array();
  if (!outcome) return std::unexpected(reader.fix_position(std::move(outcome.error())));
  if (!end) return std::unexpected(end.error());
  return outcome;
}

ReadResult<std::size_t> read_variant_name(Reader& reader, std::span<const std::string_view> names) {
  const int c = reader.peek_after_whitespace();
  if (c == Reader::kEnd) return reader.peek_error("EOF while parsing a value");
  if (c != '"') return std::unexpected(reader.invalid_type_here("variant identifier"));
  std::string escaped;  // holds the name only when it has escapes or non-ASCII bytes
  auto name = reader.parse_string_view(escaped);
  if (!name) return std::unexpected(name.error());
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (names[i] == *name) return i;
  }
  return reader.error(json::unknown_variant(*name, names));
}

}  // namespace

ReadResult<void> read_text_record(Reader& reader, std::string_view name, std::span<const TextField> fields) {
  const int c = reader.peek_after_whitespace();
  if (c == '{') return framed(reader, true, [&] { return visit_object(reader, fields); });
  if (c == '[') return framed(reader, false, [&] { return visit_array(reader, name, fields); });
  if (c == Reader::kEnd) return reader.peek_error("EOF while parsing a value");
  return std::unexpected(reader.invalid_type_here("struct " + std::string(name)));
}

ReadResult<std::size_t> read_unit_choice(Reader& reader, std::span<const std::string_view> names) {
  const int c = reader.peek_after_whitespace();
  if (c == '"') return read_variant_name(reader, names);
  if (c == Reader::kEnd) return reader.peek_error("EOF while parsing a value");
  if (c != '{') return reader.peek_error("expected value");
  // {"name": null}
  if (auto level = reader.enter_level(); !level) return std::unexpected(level.error());
  reader.eat();
  auto variant = read_variant_name(reader, names);
  if (variant) {
    if (auto colon = reader.parse_colon(); !colon) {
      variant = std::unexpected(colon.error());
    } else if (reader.peek_after_whitespace() == 'n') {
      reader.eat();
      if (auto ident = reader.parse_ident("ull"); !ident) variant = std::unexpected(ident.error());
    } else if (reader.peek() == Reader::kEnd) {
      variant = reader.peek_error("EOF while parsing a value");
    } else {
      variant = std::unexpected(reader.invalid_type_here("unit"));
    }
  }
  reader.leave_level();
  if (!variant) return variant;
  const int close = reader.peek_after_whitespace();
  if (close == '}') {
    reader.eat();
    return variant;
  }
  return reader.error(close == Reader::kEnd ? "EOF while parsing an object" : "expected value");
}

// Reads one buffered member or element: as canonical text when it is the
// array wanted that way, otherwise as a value.
ReadResult<BufferedValue> read_buffered(Reader& reader, std::string key, bool as_canonical_array,
                                        const TextSink* stream) {
  BufferedValue buffered{std::move(key), {}, std::nullopt, {}};
  if (as_canonical_array && reader.peek_after_whitespace() == '[') {
    const std::size_t begin = reader.index();
    std::string text;
    if (auto r = append_canonical_from_text(reader, text, stream); !r) return std::unexpected(r.error());
    if (stream != nullptr) buffered.streamed_source = reader.text().substr(begin, reader.index() - begin);
    buffered.canonical_array = std::move(text);
    return buffered;
  }
  auto value = reader.read_value();
  if (!value) return std::unexpected(value.error());
  buffered.value = std::move(*value);
  return buffered;
}

ReadResult<BufferedChoice> read_buffered_choice(Reader& reader, std::string_view tag, std::string_view expected,
                                                std::span<const std::string_view> names,
                                                std::span<const std::string_view> fields,
                                                std::optional<CanonicalArray> canonical) {
  const int c = reader.peek_after_whitespace();
  if (c == '{') {
    return framed(reader, true, [&]() -> ReadResult<BufferedChoice> {
      BufferedChoice choice;
      bool have_tag = false;
      bool first = true;
      std::string key;
      for (;;) {
        auto more = reader.next_key(first, key);
        if (!more) return std::unexpected(more.error());
        if (!*more) break;
        if (key == tag && have_tag) return unpositioned(json::duplicate_field(tag));
        if (auto colon = reader.parse_colon(); !colon) return std::unexpected(colon.error());
        if (key == tag) {
          auto variant = read_variant_name(reader, names);
          if (!variant) return std::unexpected(variant.error());
          choice.variant = *variant;
          have_tag = true;
          continue;
        }
        if (std::ranges::find(fields, key) == fields.end()) {
          // A field of no variant: dropped, its nesting not counted, but read
          // whole as the choice is, so a number beyond the double range is a fault.
          if (auto skipped = reader.skip_value(Reader::Depth::kUnlimited, Reader::Numbers::kInRange); !skipped) {
            return std::unexpected(skipped.error());
          }
          continue;
        }
        // Decided before the call: the key is moved into an argument, and the
        // order in which arguments are evaluated is unspecified.
        const bool as_text = canonical && canonical->member == key;
        auto buffered = read_buffered(reader, std::move(key), as_text, canonical ? canonical->stream : nullptr);
        if (!buffered) return std::unexpected(buffered.error());
        choice.members.push_back(std::move(*buffered));
      }
      if (!have_tag) return unpositioned(json::missing_field(tag));
      return choice;
    });
  }
  if (c == '[') {
    return framed(reader, false, [&]() -> ReadResult<BufferedChoice> {
      BufferedChoice choice;
      choice.from_array = true;
      bool first = true;
      auto more = reader.next_element(first);
      if (!more) return std::unexpected(more.error());
      if (!*more) return unpositioned(json::missing_field(tag));
      auto variant = read_variant_name(reader, names);
      if (!variant) return std::unexpected(variant.error());
      choice.variant = *variant;
      for (;;) {
        more = reader.next_element(first);
        if (!more) return std::unexpected(more.error());
        if (!*more) break;
        const bool as_text = canonical && canonical->variant == choice.variant && choice.elements.empty();
        auto buffered = read_buffered(reader, {}, as_text, canonical ? canonical->stream : nullptr);
        if (!buffered) return std::unexpected(buffered.error());
        choice.elements.push_back(std::move(*buffered));
      }
      return choice;
    });
  }
  if (c == Reader::kEnd) return reader.peek_error("EOF while parsing a value");
  return std::unexpected(reader.invalid_type_here(expected));
}

ReadResult<BufferedValue*> take_variant_field(BufferedChoice& choice, std::string_view variant_title,
                                              std::string_view field, FieldCheck fits, std::string_view expected) {
  if (choice.from_array) {
    if (choice.elements.empty()) {
      return unpositioned(json::invalid_length(0, "struct variant " + std::string(variant_title) + " with 1 element"));
    }
    BufferedValue& first = choice.elements[0];
    if (!fits(first)) return unpositioned(json::invalid_type(json::unexpected_value(first.value), expected));
    if (choice.elements.size() > 1) {
      return unpositioned(json::invalid_length(choice.elements.size(), "1 element in sequence"));
    }
    return &first;
  }
  BufferedValue* found = nullptr;
  for (BufferedValue& member : choice.members) {
    if (member.key != field) continue;
    if (found != nullptr) return unpositioned(json::duplicate_field(field));
    if (!fits(member)) return unpositioned(json::invalid_type(json::unexpected_value(member.value), expected));
    found = &member;
  }
  if (found == nullptr) return unpositioned(json::missing_field(field));
  return found;
}

ReadResult<void> check_unit_variant(const BufferedChoice& choice) {
  if (choice.from_array && !choice.elements.empty()) {
    return unpositioned(json::invalid_length(choice.elements.size(), "0 elements in sequence"));
  }
  return {};
}

}  // namespace velkor::request
