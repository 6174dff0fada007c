// Typed reading of request records straight from the request text, with the
// fault descriptions and positions users see in "bad ... request" messages.
// (The strategy check, strategy/record_reader.h, describes records as a schema
// applied to an already-read value; here each field reads its own text.)
//
// A record is a JSON object whose known members are read by their field
// readers (unknown members are skipped, a repeated member is a fault, missing
// required members are faults in declaration order), or a JSON array read by
// position (missing trailing optional members keep their defaults).
// Faults the record reader raises itself get the position where reading stands
// once the record's closing bracket has been consumed.
#ifndef VELKOR_REQUEST_RECORD_H_
#define VELKOR_REQUEST_RECORD_H_

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "json/reader.h"
#include "support/text_sink.h"

namespace velkor::request {

struct TextField {
  std::string_view name;
  bool required;
  // Reads the member's value; the cursor stands before it.
  std::function<json::ReadResult<void>(json::Reader&)> read;
};

// Reads `struct {name}` from the cursor into whatever the field readers fill.
// A record has at most 16 fields (the request's have up to six); a longer
// table is a fault in the code and stops the process on its first use.
json::ReadResult<void> read_text_record(json::Reader& reader, std::string_view name, std::span<const TextField> fields);

// Reads a name-only choice written as "name" or {"name": null}; returns the
// index of the name in `names`.
json::ReadResult<std::size_t> read_unit_choice(json::Reader& reader, std::span<const std::string_view> names);

// A member (or array element) of a tagged choice as read. Arrays wanted only
// as canonical text (see CanonicalArray) are kept as that text alone, or, when
// that text was streamed, as an empty text and the literal it came from.
struct BufferedValue {
  std::string key;  // empty for array elements
  json::Value value;
  std::optional<std::string> canonical_array;
  std::string_view streamed_source;  // a streamed array's literal in the read text
};

// A choice tagged by a member (`tag`), read whole before its fields are looked
// at: the tag's position among `names`, and the rest of the value (the members
// named in `fields`, the fields of all variants together, or every array
// element after the tag). Other members are dropped, their nesting not counted
// and their numbers converted (one beyond the double range is a fault).
struct BufferedChoice {
  std::size_t variant = 0;
  bool from_array = false;
  std::vector<BufferedValue> members;  // known fields only, repeated keys kept
  std::vector<BufferedValue> elements;
};

// Which field of a tagged choice, when it holds an array, is kept as canonical
// text instead of a value: the member named `member`, or in the array form the
// first field of variant `variant`. With a `stream` the text goes to it piece
// by piece instead of being kept.
struct CanonicalArray {
  std::string_view member;
  std::size_t variant = 0;
  const TextSink* stream = nullptr;
};

json::ReadResult<BufferedChoice> read_buffered_choice(json::Reader& reader, std::string_view tag,
                                                      std::string_view expected,
                                                      std::span<const std::string_view> names,
                                                      std::span<const std::string_view> fields,
                                                      std::optional<CanonicalArray> canonical = std::nullopt);

// The single field of a variant of a tagged choice, from what `read_buffered_choice`
// buffered. `variant_title` is e.g. "Target::NoStd"; `fits` tells whether the
// field's value has the right kind, `expected` names it ("a string") in the
// fault when it has not.
// Faults are returned without a position (the enclosing record places them).
using FieldCheck = bool (*)(const BufferedValue&);
json::ReadResult<BufferedValue*> take_variant_field(BufferedChoice& choice, std::string_view variant_title,
                                                    std::string_view field, FieldCheck fits,
                                                    std::string_view expected);
// A variant without fields: surplus array elements are the only fault.
json::ReadResult<void> check_unit_variant(const BufferedChoice& choice);

}  // namespace velkor::request

#endif  // VELKOR_REQUEST_RECORD_H_
