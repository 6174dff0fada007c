// A strict JSON reader over one text, with the positions and fault
// descriptions that request errors show to users.
//
// `Reader` is a cursor with the primitive readings a typed record reader is
// built from (a string, a boolean, any value, skipping a value, ...). Faults
// carry a 1-based line and a column that counts the bytes consumed on that
// line. A fault raised by a record reader itself (a missing member, a wrong
// kind found inside an already-read value) starts without a position; the
// enclosing record gives it the position where reading stands when that record
// ends (see `ReadError::positioned`).
//
// Nesting: every array or object opened counts one level; with a depth limit,
// the bracket that would open level 128 is a fault ("recursion limit
// exceeded"). Whole values (read, skipped, described, written as canonical
// text, placed) are walked by the one tokenizer, json/tokenizer.h, which keeps
// its open containers on an explicit list: nothing recurses on the C++ stack.
#ifndef VELKOR_JSON_READER_H_
#define VELKOR_JSON_READER_H_

#include <cstddef>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

#include "json/value.h"

namespace velkor::json {

struct ReadError {
  std::string description;
  std::size_t line = 0;  // 0: not positioned yet
  std::size_t column = 0;

  bool positioned() const { return line != 0; }
  // "{description} at line {line} column {column}", or the bare description
  // when the fault never received a position.
  std::string text() const;
};

// A number literal as written, checked against the JSON grammar.
struct NumberLiteral {
  std::string_view text;
  bool negative;
  bool is_integer;  // no fraction and no exponent
  bool has_exponent = false;
  std::size_t int_digits = 0;       // digits before the point
  std::size_t fraction_digits = 0;  // digits after the point
};

template <typename T>
using ReadResult = std::expected<T, ReadError>;

inline std::unexpected<ReadError> unpositioned(std::string description) {
  return std::unexpected(ReadError{std::move(description), 0, 0});
}

// Fault descriptions of the grammar, shared by the readings built on it.
inline constexpr char kEofValue[] = "EOF while parsing a value";
inline constexpr char kEofList[] = "EOF while parsing a list";
inline constexpr char kEofObject[] = "EOF while parsing an object";
inline constexpr char kEofString[] = "EOF while parsing a string";
inline constexpr char kExpectedValue[] = "expected value";
inline constexpr char kInvalidNumber[] = "invalid number";
inline constexpr char kTrailingComma[] = "trailing comma";
inline constexpr char kTrailingCharacters[] = "trailing characters";
inline constexpr char kKeyMustBeString[] = "key must be a string";

// The number of levels a request may nest (the top-level value is level 1).
inline constexpr int kRequestDepthLimit = 127;

class Reader {
 public:
  enum class Depth { kLimited, kUnlimited };
  static constexpr int kEnd = -1;

  // `levels`: how many levels a limited reading allows.
  explicit Reader(std::string_view text, Depth depth = Depth::kLimited, int levels = kRequestDepthLimit);

  std::string_view text() const { return text_; }
  std::size_t index() const { return index_; }

  // Skips JSON whitespace and returns the next byte without consuming it, or kEnd.
  int peek_after_whitespace() {
    if (index_ < text_.size() && static_cast<unsigned char>(text_[index_]) > ' ') {
      return static_cast<unsigned char>(text_[index_]);
    }
    // The one space many writers put after ',' and ':' is stepped over here.
    if (index_ + 1 < text_.size() && text_[index_] == ' ' && static_cast<unsigned char>(text_[index_ + 1]) > ' ') {
      return static_cast<unsigned char>(text_[++index_]);
    }
    return skip_whitespace();
  }
  int peek() const { return index_ < text_.size() ? static_cast<unsigned char>(text_[index_]) : kEnd; }
  void eat() { ++index_; }
  // Goes back to an earlier position, for a reading that tried a quicker way
  // and found it does not apply. Nesting levels entered since must have been left.
  void rewind(std::size_t index) { index_ = index; }

  // A fault at the current position (bytes consumed so far on this line) ...
  std::unexpected<ReadError> error(std::string description) const;
  // ... or one byte further, counting the byte about to be read.
  std::unexpected<ReadError> peek_error(std::string description) const;
  // Gives an unpositioned fault the current position; positioned ones pass.
  ReadError fix_position(ReadError e) const;

  // Enters one nesting level before an opening bracket (not yet consumed).
  ReadResult<void> enter_level();
  void leave_level() { ++remaining_depth_; }

  // Reads a string literal whose opening quote is the next byte, unescaped and
  // checked (unpaired surrogate escapes are faults).
  ReadResult<std::string> parse_string();
  // The same, as a view into the text when the literal holds no escape or
  // non-ASCII byte, otherwise into `storage`.
  ReadResult<std::string_view> parse_string_view(std::string& storage);
  // Checks a string literal whose opening quote is the next byte and steps
  // over it; escapes are only checked for their form (any `\uXXXX` passes).
  ReadResult<void> skip_string();
  // Expects `rest` (the tail of null/true/false after its first byte).
  ReadResult<void> parse_ident(std::string_view rest);
  // Reads a number whose first byte is next, keeping its kind.
  ReadResult<Value> parse_number();
  // Reads a number literal without converting it.
  ReadResult<NumberLiteral> scan_number();
  // The value of a literal scanned from this reader's text: an unsigned or
  // negative integer when it is one in range, otherwise the nearest double
  // ("number out of range" beyond the double range, zero below it). The fault
  // stands after the literal, or, for a non-zero significand with an exponent
  // above 2147483647, just after the exponent digit that passes that bound.
  ReadResult<Value> number_value(const NumberLiteral& number) const;

  // Any value, read whole into a Value (see json/value_builder.h).
  ReadResult<Value> read_value();
  // Any value, checked and dropped; string contents are only loosely checked,
  // as befits members nobody reads. With Depth::kUnlimited the levels inside
  // the value are not counted against the limit (a record skips its unknown
  // members so, as the envelope does). Numbers are checked for their form
  // only, or with Numbers::kInRange also converted, so that one beyond the
  // double range is a fault (a tagged choice reads its unknown members so).
  enum class Numbers { kForm, kInRange };
  ReadResult<void> skip_value(Depth depth = Depth::kLimited, Numbers numbers = Numbers::kForm);

  // The readings of typed record fields; a wrong kind is reported as
  // "invalid type: {unexpected}, expected {expected}" just after the value
  // (just before it for an array or object).
  ReadResult<std::string> read_string(std::string_view expected = "a string");
  ReadResult<bool> read_bool();
  // Reads the value at the cursor only to describe it in a wrong-kind fault.
  ReadError invalid_type_here(std::string_view expected);

  // Object and array framing, as a record reader walks them.
  // After `{` was consumed: the next key, or false at the closing brace (not consumed).
  ReadResult<bool> next_key(bool& first, std::string& key);
  ReadResult<void> parse_colon() {
    if (index_ < text_.size() && text_[index_] == ':') {
      ++index_;
      return {};
    }
    return parse_colon_after_whitespace();
  }
  // After `[` was consumed: true when another element follows (cursor before it).
  ReadResult<bool> next_element(bool& first);
  // Closing bracket of a record; faults here are reported only when the
  // record itself succeeded.
  ReadResult<void> end_object();
  ReadResult<void> end_array();

  // After the top-level value: only whitespace may follow.
  ReadResult<void> end_of_text();

 private:
  template <bool kDecode>
  ReadResult<void> string_body(std::string& out);
  template <bool kDecode>
  ReadResult<std::uint32_t> unicode_escape();
  ReadResult<std::uint32_t> hex_digits();
  int skip_whitespace() {
    while (index_ < text_.size()) {
      const char c = text_[index_];
      if (c != ' ' && c != '\n' && c != '\t' && c != '\r') return static_cast<unsigned char>(c);
      ++index_;
    }
    return kEnd;
  }
  ReadResult<void> parse_colon_after_whitespace();
  std::unexpected<ReadError> error_at(std::size_t index, std::string description) const;

  std::string_view text_;
  std::size_t index_ = 0;
  bool depth_limited_;
  int remaining_depth_;  // levels that may still be entered, set from the constructor's limit
};

// Reads a whole text as one value (whitespace around it allowed).
ReadResult<Value> parse_document(std::string_view text, Reader::Depth depth = Reader::Depth::kLimited,
                                 int levels = kRequestDepthLimit);

}  // namespace velkor::json

#endif  // VELKOR_JSON_READER_H_
