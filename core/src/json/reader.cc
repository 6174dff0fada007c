#include "json/reader.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <vector>

#include "json/messages.h"
#include "json/string_scan.h"
#include "json/tokenizer.h"
#include "json/value_builder.h"
#include "support/utf8_text.h"

namespace velkor::json {
namespace {

bool is_digit(int c) { return c >= '0' && c <= '9'; }

// The byte a one-letter escape stands for, or 0 for no such escape.
char simple_escape(char e) {
  switch (e) {
    case '"': return '"';
    case '\\': return '\\';
    case '/': return '/';
    case 'b': return '\b';
    case 'f': return '\f';
    case 'n': return '\n';
    case 'r': return '\r';
    case 't': return '\t';
    default: return 0;
  }
}

int hex_value(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void append_utf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xc0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3f)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xe0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3f)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3f)));
  } else {
    out.push_back(static_cast<char>(0xf0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3f)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3f)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3f)));
  }
}

// The index of the first byte from `from` on that ends a plain run inside a
// string literal (control, `"`, `\`, non-ASCII), or the text's size.
std::size_t string_stop(std::string_view text, std::size_t from) {
  return static_cast<std::size_t>(find_string_stop(text.data() + from, text.data() + text.size()) - text.data());
}

// Whether a decimal literal whose conversion overflowed or underflowed was too
// large (rather than too small) for a double.
bool literal_is_huge(std::string_view literal) {
  std::size_t i = 0;
  if (i < literal.size() && literal[i] == '-') ++i;
  long long int_digits = 0;
  bool seen_nonzero = false;
  long long leading_fraction_zeros = 0;
  for (; i < literal.size() && is_digit(literal[i]); ++i) {
    if (literal[i] != '0') seen_nonzero = true;
    if (seen_nonzero) ++int_digits;
  }
  if (i < literal.size() && literal[i] == '.') {
    for (++i; i < literal.size() && is_digit(literal[i]); ++i) {
      if (seen_nonzero) continue;
      if (literal[i] != '0') {
        seen_nonzero = true;
      } else {
        ++leading_fraction_zeros;
      }
    }
  }
  long long exponent = 0;
  if (i < literal.size() && (literal[i] == 'e' || literal[i] == 'E')) {
    ++i;
    bool negative = false;
    if (literal[i] == '+' || literal[i] == '-') negative = literal[i++] == '-';
    for (; i < literal.size(); ++i) {
      exponent = std::min<long long>(exponent * 10 + (literal[i] - '0'), 1'000'000'000);
    }
    if (negative) exponent = -exponent;
  }
  const long long magnitude = int_digits > 0 ? int_digits - 1 : -(leading_fraction_zeros + 1);
  return magnitude + exponent > 0;
}

// A literal with a non-zero significand and a positive exponent above
// 2147483647 is out of range, however its digits go on: reading stops just
// after the exponent digit that takes the exponent past that bound, and the
// fault stands there. Returns that offset into the literal, or npos when the
// exponent stays within the bound, is negative, or scales a zero (which reads
// as zero whatever the exponent).
std::size_t exponent_overflow_end(std::string_view literal) {
  constexpr std::int64_t kMaxExponent = 2147483647;
  std::size_t i = 0;
  bool zero_significand = true;
  for (; i < literal.size() && literal[i] != 'e' && literal[i] != 'E'; ++i) {
    if (literal[i] >= '1' && literal[i] <= '9') zero_significand = false;
  }
  if (i == literal.size() || zero_significand) return std::string_view::npos;
  ++i;
  if (literal[i] == '-') return std::string_view::npos;
  if (literal[i] == '+') ++i;
  std::int64_t exponent = 0;
  for (; i < literal.size(); ++i) {
    exponent = exponent * 10 + (literal[i] - '0');
    if (exponent > kMaxExponent) return i + 1;
  }
  return std::string_view::npos;
}

}  // namespace

std::string ReadError::text() const {
  if (!positioned()) return description;
  std::string out = description;
  out += " at line ";
  out += std::to_string(line);
  out += " column ";
  out += std::to_string(column);
  return out;
}

Reader::Reader(std::string_view text, Depth depth, int levels)
    : text_(text), depth_limited_(depth == Depth::kLimited), remaining_depth_(levels + 1) {}

std::unexpected<ReadError> Reader::error_at(std::size_t index, std::string description) const {
  const std::string_view before = text_.substr(0, index);
  const std::size_t newline = before.rfind('\n');
  const std::size_t line_start = newline == std::string_view::npos ? 0 : newline + 1;
  const std::size_t line = 1 + static_cast<std::size_t>(std::count(before.begin(), before.begin() + line_start, '\n'));
  return std::unexpected(ReadError{std::move(description), line, index - line_start});
}

std::unexpected<ReadError> Reader::error(std::string description) const {
  return error_at(index_, std::move(description));
}

std::unexpected<ReadError> Reader::peek_error(std::string description) const {
  return error_at(std::min(text_.size(), index_ + 1), std::move(description));
}

ReadError Reader::fix_position(ReadError e) const {
  if (e.positioned()) return e;
  return error(std::move(e.description)).error();
}

ReadResult<void> Reader::enter_level() {
  if (!depth_limited_) return {};
  if (--remaining_depth_ == 0) {
    ++remaining_depth_;
    return peek_error("recursion limit exceeded");
  }
  return {};
}

ReadResult<std::string_view> Reader::parse_string_view(std::string& storage) {
  // Most strings hold no escape and no non-ASCII byte: view them in place.
  const std::size_t run = string_stop(text_, index_ + 1);
  if (run < text_.size() && text_[run] == '"') {
    const std::string_view view = text_.substr(index_ + 1, run - index_ - 1);
    index_ = run + 1;
    return view;
  }
  auto parsed = parse_string();
  if (!parsed) return std::unexpected(parsed.error());
  storage = std::move(*parsed);
  return std::string_view(storage);
}

ReadResult<std::string> Reader::parse_string() {
  ++index_;  // opening quote
  std::string out;
  if (auto r = string_body<true>(out); !r) return std::unexpected(r.error());
  return out;
}

ReadResult<void> Reader::skip_string() {
  ++index_;  // opening quote
  std::string unused;
  return string_body<false>(unused);
}

// The rest of a string literal after its opening quote, up to and including
// the closing one. Decoding appends the unescaped text to `out` and refuses an
// unpaired surrogate escape; otherwise only the literal's form is checked.
template <bool kDecode>
ReadResult<void> Reader::string_body(std::string& out) {
  for (;;) {
    const std::size_t run = string_stop(text_, index_);
    if constexpr (kDecode) out.append(text_.data() + index_, run - index_);
    index_ = run;
    if (index_ == text_.size()) return error(kEofString);
    const unsigned char c = static_cast<unsigned char>(text_[index_]);
    if (c == '"') {
      ++index_;
      return {};
    }
    if (c >= 0x80) {
      const int n = utf8_sequence_length(text_, index_);
      if (n < 0) {
        ++index_;
        return error("invalid unicode code point");
      }
      if constexpr (kDecode) out.append(text_.data() + index_, static_cast<std::size_t>(n));
      index_ += static_cast<std::size_t>(n);
      continue;
    }
    if (c < 0x20) {
      ++index_;
      return error("control character (\\u0000-\\u001F) found while parsing a string");
    }
    // A backslash escape.
    ++index_;
    if (index_ == text_.size()) return error(kEofString);
    const char e = text_[index_++];
    if (e == 'u') {
      auto code_point = unicode_escape<kDecode>();
      if (!code_point) return std::unexpected(code_point.error());
      if constexpr (kDecode) append_utf8(out, *code_point);
      continue;
    }
    const char unescaped = simple_escape(e);
    if (unescaped == 0) return error("invalid escape");
    if constexpr (kDecode) out.push_back(unescaped);
  }
}

// After `\u`: the code point of the escape (with its trailing surrogate's
// escape when it is a leading surrogate). Without decoding any four hex digits
// pass: an unpaired surrogate is no fault in a value that nobody reads.
template <bool kDecode>
ReadResult<std::uint32_t> Reader::unicode_escape() {
  auto first = hex_digits();
  if (!first || !kDecode) return first;
  const std::uint32_t cp = *first;
  if (cp >= 0xdc00 && cp <= 0xdfff) return error("lone leading surrogate in hex escape");
  if (cp < 0xd800 || cp > 0xdbff) return cp;
  // A leading surrogate must be followed by an escaped trailing one.
  for (const char expected : {'\\', 'u'}) {
    if (index_ == text_.size()) return error(kEofString);
    if (text_[index_++] != expected) return error("unexpected end of hex escape");
  }
  auto second = hex_digits();
  if (!second) return second;
  if (*second < 0xdc00 || *second > 0xdfff) return error("lone leading surrogate in hex escape");
  return 0x10000 + ((cp - 0xd800) << 10) + (*second - 0xdc00);
}

// The four hex digits of a `\u` escape.
ReadResult<std::uint32_t> Reader::hex_digits() {
  if (text_.size() - index_ < 4) {
    index_ = text_.size();
    return error(kEofString);
  }
  std::uint32_t n = 0;
  for (int k = 0; k < 4; ++k) {
    const int v = hex_value(static_cast<unsigned char>(text_[index_++]));
    if (v < 0) return error("invalid escape");
    n = (n << 4) | static_cast<std::uint32_t>(v);
  }
  return n;
}

ReadResult<void> Reader::parse_ident(std::string_view rest) {
  for (char expected : rest) {
    if (index_ == text_.size()) return error(kEofValue);
    if (text_[index_++] != expected) return error("expected ident");
  }
  return {};
}

ReadResult<NumberLiteral> Reader::scan_number() {
  // One pass over the literal with a plain pointer: this runs for every number
  // of every request, so it stays free of per-byte bounds bookkeeping.
  const char* const begin = text_.data();
  const char* const end = begin + text_.size();
  const char* p = begin + index_;
  auto digit_at = [end](const char* q) { return q < end && static_cast<unsigned char>(*q - '0') < 10; };
  auto fail_at = [&](const char* q, bool peeked, const char* description) {
    index_ = static_cast<std::size_t>(q - begin);
    return peeked ? peek_error(description) : error(description);
  };
  NumberLiteral number{{}, p < end && *p == '-', true};
  if (number.negative) ++p;
  if (p == end) return fail_at(p, false, kEofValue);
  const char* const int_begin = p;
  const char lead = *p++;
  if (lead == '0') {
    if (digit_at(p)) return fail_at(p, true, kInvalidNumber);
  } else if (lead >= '1' && lead <= '9') {
    while (digit_at(p)) ++p;
  } else {
    return fail_at(p, false, kInvalidNumber);
  }
  number.int_digits = static_cast<std::size_t>(p - int_begin);
  if (p < end && *p == '.') {
    number.is_integer = false;
    ++p;
    if (!digit_at(p)) return fail_at(p, true, p == end ? kEofValue : kInvalidNumber);
    const char* const fraction_begin = p;
    while (digit_at(p)) ++p;
    number.fraction_digits = static_cast<std::size_t>(p - fraction_begin);
  }
  if (p < end && (*p == 'e' || *p == 'E')) {
    number.is_integer = false;
    number.has_exponent = true;
    ++p;
    if (p < end && (*p == '+' || *p == '-')) ++p;
    if (p == end) return fail_at(p, false, kEofValue);
    if (!digit_at(p++)) return fail_at(p, false, kInvalidNumber);
    while (digit_at(p)) ++p;
  }
  number.text = std::string_view(begin + index_, static_cast<std::size_t>(p - (begin + index_)));
  index_ = static_cast<std::size_t>(p - begin);
  return number;
}

ReadResult<Value> Reader::number_value(const NumberLiteral& number) const {
  const std::string_view literal = number.text;
  if (number.is_integer) {
    const std::string_view digits = literal.substr(number.negative ? 1 : 0);
    std::uint64_t magnitude = 0;
    auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude);
    if (ec == std::errc() && ptr == digits.data() + digits.size()) {
      if (!number.negative) return Value::unsigned_integer(magnitude);
      if (magnitude != 0 && magnitude <= (std::uint64_t{1} << 63)) {
        return Value::signed_integer(static_cast<std::int64_t>(0 - magnitude));
      }
      // -0 and integers below the signed range fall through to a double.
    }
  }
  if (number.has_exponent) {
    if (const std::size_t end = exponent_overflow_end(literal); end != std::string_view::npos) {
      return error_at(static_cast<std::size_t>(literal.data() - text_.data()) + end, "number out of range");
    }
  }
  double d = 0;
  auto [ptr, ec] = std::from_chars(literal.data(), literal.data() + literal.size(), d);
  if (ec == std::errc::result_out_of_range) {
    if (literal_is_huge(literal)) return error("number out of range");
    d = number.negative ? -0.0 : 0.0;
  } else if (ec != std::errc() || !std::isfinite(d)) {
    return error("number out of range");
  }
  return Value::floating(d);
}

ReadResult<Value> Reader::parse_number() {
  auto number = scan_number();
  if (!number) return std::unexpected(number.error());
  return number_value(*number);
}

namespace {

// Checks a value and drops it: nothing is kept but the walk's own list of
// open containers.
class Skipper : public IgnoredTokens {
 public:
  Skipper(const Reader& reader, Reader::Numbers numbers) : reader_(reader), numbers_(numbers) {}

  ReadResult<void> number(const NumberLiteral& number) {
    // A number nobody reads matters only by its form, unless it is to be read
    // whole all the same.
    if (numbers_ == Reader::Numbers::kInRange) {
      if (auto v = reader_.number_value(number); !v) return std::unexpected(v.error());
    }
    return {};
  }

 private:
  const Reader& reader_;
  Reader::Numbers numbers_;
};

// Describes a scalar as a wrong-kind fault shows it (brackets never reach it).
class ScalarDescriber : public IgnoredTokens {
 public:
  static constexpr bool kDecodeStrings = true;

  explicit ScalarDescriber(const Reader& reader) : reader_(reader) {}
  const std::string& unexpected() const { return unexpected_; }

  void name(std::size_t begin, std::size_t) {
    const char c = reader_.text()[begin];
    unexpected_ = c == 'n' ? std::string(kUnexpectedNull) : unexpected_bool(c == 't');
  }
  void string(std::string_view value, std::size_t, std::size_t) { unexpected_ = unexpected_string(value); }
  ReadResult<void> number(const NumberLiteral& number) {
    auto value = reader_.number_value(number);
    if (!value) return std::unexpected(value.error());
    unexpected_ = unexpected_value(*value);
    return {};
  }

 private:
  const Reader& reader_;
  std::string unexpected_;
};

}  // namespace

ReadResult<Value> Reader::read_value() { return build_value(*this); }

ReadResult<void> Reader::skip_value(Depth depth, Numbers numbers) {
  Skipper skipper(*this, numbers);
  return Tokenizer(*this, skipper, depth == Depth::kLimited ? Levels::kCounted : Levels::kNotCounted).walk();
}

ReadError Reader::invalid_type_here(std::string_view expected) {
  const int c = peek_after_whitespace();
  // An array or object is described by its opening bracket alone.
  if (c == '[' || c == '{') {
    return error(invalid_type(c == '[' ? kUnexpectedSequence : kUnexpectedMap, expected)).error();
  }
  ScalarDescriber describer(*this);
  if (auto walked = Tokenizer(*this, describer).walk(); !walked) return walked.error();
  return error(invalid_type(describer.unexpected(), expected)).error();
}

ReadResult<std::string> Reader::read_string(std::string_view expected) {
  const int c = peek_after_whitespace();
  if (c == '"') return parse_string();
  if (c == kEnd) return peek_error(kEofValue);
  return std::unexpected(invalid_type_here(expected));
}

ReadResult<bool> Reader::read_bool() {
  const int c = peek_after_whitespace();
  if (c == 't' || c == 'f') {
    ++index_;
    if (auto r = parse_ident(c == 't' ? "rue" : "alse"); !r) return std::unexpected(r.error());
    return c == 't';
  }
  if (c == kEnd) return peek_error(kEofValue);
  return std::unexpected(invalid_type_here("a boolean"));
}

ReadResult<bool> Reader::next_key(bool& first, std::string& key) {
  int c = peek_after_whitespace();
  if (c == '}') return false;
  if (c == ',' && !first) {
    ++index_;
    c = peek_after_whitespace();
  } else if (c == kEnd) {
    return peek_error(kEofObject);
  } else if (first) {
    first = false;
  } else {
    return peek_error("expected `,` or `}`");
  }
  if (c == '}') return peek_error(kTrailingComma);
  if (c == kEnd) return peek_error(kEofValue);
  if (c != '"') return peek_error(kKeyMustBeString);
  // Copied into `key`, which keeps its room from one key to the next.
  std::string escaped;
  auto s = parse_string_view(escaped);
  if (!s) return std::unexpected(s.error());
  key.assign(*s);
  return true;
}

ReadResult<void> Reader::parse_colon_after_whitespace() {
  const int c = peek_after_whitespace();
  if (c == ':') {
    ++index_;
    return {};
  }
  return peek_error(c == kEnd ? kEofObject : "expected `:`");
}

ReadResult<bool> Reader::next_element(bool& first) {
  int c = peek_after_whitespace();
  if (c == ']') return false;
  if (c == ',' && !first) {
    ++index_;
    c = peek_after_whitespace();
  } else if (c == kEnd) {
    return peek_error(kEofList);
  } else if (first) {
    first = false;
  } else {
    return peek_error("expected `,` or `]`");
  }
  if (c == ']') return peek_error(kTrailingComma);
  if (c == kEnd) return peek_error(kEofValue);
  return true;
}

ReadResult<void> Reader::end_object() {
  const int c = peek_after_whitespace();
  if (c == '}') {
    ++index_;
    return {};
  }
  if (c == ',') return peek_error(kTrailingComma);
  return peek_error(c == kEnd ? kEofObject : kTrailingCharacters);
}

ReadResult<void> Reader::end_array() {
  const int c = peek_after_whitespace();
  if (c == ']') {
    ++index_;
    return {};
  }
  if (c == ',') {
    ++index_;
    return peek_error(peek_after_whitespace() == ']' ? kTrailingComma : kTrailingCharacters);
  }
  return peek_error(c == kEnd ? kEofList : kTrailingCharacters);
}

ReadResult<void> Reader::end_of_text() {
  if (peek_after_whitespace() == kEnd) return {};
  return peek_error(kTrailingCharacters);
}

ReadResult<Value> parse_document(std::string_view text, Reader::Depth depth, int levels) {
  Reader reader(text, depth, levels);
  auto value = reader.read_value();
  if (!value) return value;
  if (auto end = reader.end_of_text(); !end) return std::unexpected(end.error());
  return value;
}

}  // namespace velkor::json
