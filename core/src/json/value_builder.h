// Builds a Value from the tokens of one walk over its text (json/tokenizer.h):
// the handler behind Reader::read_value and, beside the places recorder,
// parse_document_with_places (json/value_places.h).
#ifndef VELKOR_JSON_VALUE_BUILDER_H_
#define VELKOR_JSON_VALUE_BUILDER_H_

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "json/reader.h"
#include "json/tokenizer.h"
#include "json/value.h"

namespace velkor::json {

// An object under construction while a value is read. A repeated key keeps
// the later value at the first key's position. Small objects look for the key
// among their members as it comes; past that, members are appended as they
// come and repeats are resolved once, when the object closes, by sorting the
// member positions by key: O(n log n) whatever the keys. No hashing: with a
// hash the sender can predict, one request can put every key in one bucket
// and make reading quadratic.
struct ObjectBuilder {
  Object object;
  static constexpr std::size_t kScanUpTo = 16;

  // The member whose value is being read.
  std::size_t slot = 0;

  // Starts the member of `key`, copied once, straight from the text (or the
  // unescaped scratch) into its member; a repeated key's value will replace
  // the first one's.
  void start_member(std::string_view key) {
    auto& members = object.members();
    if (members.size() < kScanUpTo) {
      for (std::size_t i = 0; i < members.size(); ++i) {
        if (members[i].key == key) {
          slot = i;
          return;
        }
      }
    }
    // Most objects have a handful of members: room for four at once saves
    // the growth steps through one and two.
    if (members.empty()) members.reserve(4);
    slot = members.size();
    members.emplace_back().key.assign(key);
  }

  // The started member's value. Nothing is added to this object while the
  // value is read (inner containers have frames of their own), so `slot`
  // still names its member.
  void finish_member(Value&& value) { object.members()[slot].value = std::move(value); }

  Object finish() {
    auto& members = object.members();
    if (members.size() > kScanUpTo) merge_repeated_keys(members);
    return std::move(object);
  }

 private:
  // A member's place in key order; see json/key_order.h.
  struct KeyOrder {
    std::uint64_t prefix;
    std::size_t index;
  };

  static void merge_repeated_keys(std::vector<Member>& members);
};

// The handler: scalars become values at once; an array or object is built in
// a frame of its own until its closing bracket, then placed like a scalar.
class ValueBuilder : public IgnoredTokens {
 public:
  static constexpr bool kDecodeStrings = true;

  explicit ValueBuilder(const Reader& reader) : reader_(reader) {}

  Value take() { return std::move(result_); }

  void name(std::size_t begin, std::size_t) {
    const char c = reader_.text()[begin];
    place(c == 'n' ? Value() : Value::boolean(c == 't'));
  }
  // Most strings are viewed in the text and copied once, into the value.
  void string(std::string_view value, std::size_t, std::size_t) { place(Value::string(value)); }
  ReadResult<void> number(const NumberLiteral& number);
  void empty(bool is_object, std::size_t, std::size_t) { place(is_object ? Value::object() : Value::array()); }
  void open_array(std::size_t) { open(false); }
  bool open_object(Reader&, std::size_t) {
    open(true);
    return false;
  }
  void key(std::string_view key, std::size_t) { frames_.back().object.start_member(key); }
  void close(bool is_object, std::size_t) {
    Frame& top = frames_.back();
    Value done = is_object ? Value::object(top.object.finish()) : Value::array(std::move(top.array));
    frames_.pop_back();
    place(std::move(done));
  }

 private:
  struct Frame {
    bool is_object = false;
    Array array;
    ObjectBuilder object;
  };

  void open(bool is_object) {
    // Room for a few levels when the first opens, rather than level by level.
    if (frames_.capacity() == 0) frames_.reserve(8);
    frames_.emplace_back().is_object = is_object;  // made in place, not moved in
  }

  // A complete value: the result, or the next element or member value of the
  // innermost open container.
  void place(Value&& value) {
    if (frames_.empty()) {
      result_ = std::move(value);
      return;
    }
    Frame& top = frames_.back();
    if (top.is_object) {
      top.object.finish_member(std::move(value));
      return;
    }
    if (top.array.empty()) top.array.reserve(4);  // as for objects: most arrays are short
    top.array.push_back(std::move(value));
  }

  const Reader& reader_;
  std::vector<Frame> frames_;
  Value result_;
};

// Reads the value at the reader's cursor whole; a repeated key keeps the later
// value at the first key's position. Numbers keep their kind (unsigned,
// negative integer, double); one beyond the double range is a fault.
ReadResult<Value> build_value(Reader& reader);

}  // namespace velkor::json

#endif  // VELKOR_JSON_VALUE_BUILDER_H_
