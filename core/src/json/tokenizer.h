// The one walk over a JSON value's text: each token is checked against the
// grammar, with the reader's fault descriptions and positions, and reported
// with its offsets to a handler that makes of it what it needs (a Value, a
// canonical text, nothing at all).
//
// The walk keeps its open containers on an explicit list, never on the C++
// stack, so a value of any depth is walked in constant stack space; the depth
// is bounded by the reader's level limit (when the walk counts levels).
//
// A handler provides (offsets index the reader's text; IgnoredTokens below
// provides the ones a handler does not need):
//   static constexpr bool kDecodeStrings;
//       true: strings and keys are unescaped and fully checked (an unpaired
//       surrogate escape is a fault), and handed over; false: only their form
//       is checked, and the handler gets their offsets alone.
//   void name(std::size_t begin, std::size_t end);            null, true, false
//   void string(std::string_view value, std::size_t begin, std::size_t end);
//       `value` is a view into the text when the literal holds no escape and
//       no non-ASCII byte, otherwise into scratch valid until the next token;
//       empty when strings are not decoded.
//   ReadResult<void> number(const NumberLiteral& number);     may refuse it
//   void empty(bool is_object, std::size_t begin, std::size_t end);   [] or {}
//   void open_array(std::size_t begin);
//   bool open_object(Reader& reader, std::size_t begin);
//       after `{` was consumed and something other than `}` follows; true
//       when the handler read the whole object itself, up to and including
//       its `}` (the reader then stands after it, and after any siblings the
//       handler took too, as the canonical writer does with series of objects).
//   void key(std::string_view key, std::size_t begin);        after its colon
//   void next_element();                                      after `,` in an array
//   void close(bool is_object, std::size_t at);               at its closing bracket
#ifndef VELKOR_JSON_TOKENIZER_H_
#define VELKOR_JSON_TOKENIZER_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

#include "json/reader.h"

namespace velkor::json {

enum class Levels { kCounted, kNotCounted };

// What a handler that needs only some tokens inherits for the others: nothing
// is done with them (strings are still checked for their form).
struct IgnoredTokens {
  static constexpr bool kDecodeStrings = false;
  void name(std::size_t, std::size_t) {}
  void string(std::string_view, std::size_t, std::size_t) {}
  ReadResult<void> number(const NumberLiteral&) { return {}; }
  void empty(bool, std::size_t, std::size_t) {}
  void open_array(std::size_t) {}
  bool open_object(Reader&, std::size_t) { return false; }
  void key(std::string_view, std::size_t) {}
  void next_element() {}
  void close(bool, std::size_t) {}
};

template <typename Handler>
class Tokenizer {
 public:
  Tokenizer(Reader& reader, Handler& handler, Levels levels = Levels::kCounted)
      : reader_(reader), handler_(handler), counted_(levels == Levels::kCounted) {}

  // Walks one value from the cursor, which then stands just after it.
  ReadResult<void> walk() {
    for (;;) {
      Step step = value();
      // A complete value may complete the containers around it.
      while (step == Step::kComplete) {
        if (open_.empty()) return {};
        step = after_value();
      }
      if (step == Step::kFault) return std::unexpected(std::move(fault_));
    }
  }

 private:
  // What a step leaves: a fault (in `fault_`), a complete value, or a
  // container whose next value follows. No `expected` per token: this runs for
  // every token of every request.
  enum class Step { kFault, kComplete, kValueFollows };

  Step fail(ReadError fault) {
    fault_ = std::move(fault);
    return Step::kFault;
  }

  // One value, or the opening of a container (left open on `open_`).
  Step value() {
    const int c = reader_.peek_after_whitespace();
    const std::size_t begin = reader_.index();
    switch (c) {
      case Reader::kEnd:
        return fail(reader_.peek_error(kEofValue).error());
      case 'n':
      case 't':
      case 'f': {
        reader_.eat();
        if (auto r = reader_.parse_ident(c == 'n' ? "ull" : c == 't' ? "rue" : "alse"); !r) return fail(r.error());
        handler_.name(begin, reader_.index());
        return Step::kComplete;
      }
      case '"': {
        auto s = string();
        if (!s) return fail(s.error());
        handler_.string(*s, begin, reader_.index());
        return Step::kComplete;
      }
      case '[':
      case '{':
        return open(c == '{');
      default: {
        if (c != '-' && (c < '0' || c > '9')) return fail(reader_.peek_error(kExpectedValue).error());
        auto number = reader_.scan_number();
        if (!number) return fail(number.error());
        if (auto r = handler_.number(*number); !r) return fail(r.error());
        return Step::kComplete;
      }
    }
  }

  Step open(bool is_object) {
    const std::size_t begin = reader_.index();
    if (counted_) {
      if (auto r = reader_.enter_level(); !r) return fail(r.error());
    }
    reader_.eat();
    const int next = reader_.peek_after_whitespace();
    if (next == (is_object ? '}' : ']')) {
      reader_.eat();
      leave();
      handler_.empty(is_object, begin, reader_.index() - 1);
      return Step::kComplete;
    }
    if (next == Reader::kEnd) return fail(reader_.peek_error(is_object ? kEofObject : kEofList).error());
    if (!is_object) {
      open_.push_back('[');
      handler_.open_array(begin);
      return Step::kValueFollows;
    }
    if (handler_.open_object(reader_, begin)) {
      leave();
      return Step::kComplete;
    }
    if (next != '"') return fail(reader_.peek_error(kKeyMustBeString).error());
    open_.push_back('{');
    return key();
  }

  // After a value inside the innermost open container: `,` and what it
  // leads to, or the closing bracket.
  Step after_value() {
    const bool is_object = open_.back() == '{';
    const int c = reader_.peek_after_whitespace();
    if (c == ',') {
      reader_.eat();
      const int next = reader_.peek_after_whitespace();
      if (next == (is_object ? '}' : ']')) return fail(reader_.peek_error(kTrailingComma).error());
      if (!is_object) {
        handler_.next_element();
        return Step::kValueFollows;
      }
      if (next == Reader::kEnd) return fail(reader_.peek_error(kEofValue).error());
      if (next != '"') return fail(reader_.peek_error(kKeyMustBeString).error());
      return key();
    }
    if (c == (is_object ? '}' : ']')) {
      const std::size_t at = reader_.index();
      reader_.eat();
      leave();
      open_.pop_back();
      handler_.close(is_object, at);
      return Step::kComplete;
    }
    if (c == Reader::kEnd) return fail(reader_.peek_error(is_object ? kEofObject : kEofList).error());
    return fail(reader_.peek_error(is_object ? "expected `,` or `}`" : "expected `,` or `]`").error());
  }

  // A key (its opening quote next) and its colon; the member's value follows.
  Step key() {
    const std::size_t begin = reader_.index();
    auto name = string();
    if (!name) return fail(name.error());
    if (auto r = reader_.parse_colon(); !r) return fail(r.error());
    handler_.key(*name, begin);
    return Step::kValueFollows;
  }

  ReadResult<std::string_view> string() {
    if constexpr (Handler::kDecodeStrings) {
      return reader_.parse_string_view(scratch_);
    } else {
      if (auto r = reader_.skip_string(); !r) return std::unexpected(r.error());
      return std::string_view();
    }
  }

  void leave() {
    if (counted_) reader_.leave_level();
  }

  Reader& reader_;
  Handler& handler_;
  const bool counted_;
  // The open containers, innermost last, by their opening bracket (a string
  // holds the first levels without allocating).
  std::string open_;
  std::string scratch_;  // an unescaped string, until the next one
  ReadError fault_;
};

}  // namespace velkor::json

#endif  // VELKOR_JSON_TOKENIZER_H_
