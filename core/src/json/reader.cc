#include "json/reader.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <vector>

#include "json/key_order.h"
#include "json/messages.h"
#include "json/string_scan.h"
#include "support/utf8_text.h"

namespace velkor::json {
namespace {

constexpr char kEofValue[] = "EOF while parsing a value";
constexpr char kEofList[] = "EOF while parsing a list";
constexpr char kEofObject[] = "EOF while parsing an object";
constexpr char kEofString[] = "EOF while parsing a string";
constexpr char kExpectedValue[] = "expected value";
constexpr char kInvalidNumber[] = "invalid number";
constexpr char kTrailingComma[] = "trailing comma";
constexpr char kTrailingCharacters[] = "trailing characters";
constexpr char kKeyMustBeString[] = "key must be a string";

bool is_digit(int c) { return c >= '0' && c <= '9'; }

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

int Reader::skip_whitespace() {
  while (index_ < text_.size()) {
    const char c = text_[index_];
    if (c != ' ' && c != '\n' && c != '\t' && c != '\r') return static_cast<unsigned char>(c);
    ++index_;
  }
  return kEnd;
}

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
  for (;;) {
    const std::size_t run = string_stop(text_, index_);
    out.append(text_.data() + index_, run - index_);
    index_ = run;
    if (index_ == text_.size()) return error(kEofString);
    const unsigned char c = static_cast<unsigned char>(text_[index_]);
    if (c == '"') {
      ++index_;
      return out;
    }
    if (c >= 0x80) {
      const int n = utf8_sequence_length(text_, index_);
      if (n < 0) {
        ++index_;
        return error("invalid unicode code point");
      }
      out.append(text_.data() + index_, static_cast<std::size_t>(n));
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
    switch (e) {
      case '"': out.push_back('"'); continue;
      case '\\': out.push_back('\\'); continue;
      case '/': out.push_back('/'); continue;
      case 'b': out.push_back('\b'); continue;
      case 'f': out.push_back('\f'); continue;
      case 'n': out.push_back('\n'); continue;
      case 'r': out.push_back('\r'); continue;
      case 't': out.push_back('\t'); continue;
      case 'u': break;
      default: return error("invalid escape");
    }
    auto decode_hex = [this]() -> ReadResult<std::uint32_t> {
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
    };
    auto first = decode_hex();
    if (!first) return std::unexpected(first.error());
    std::uint32_t cp = *first;
    if (cp >= 0xdc00 && cp <= 0xdfff) return error("lone leading surrogate in hex escape");
    if (cp >= 0xd800 && cp <= 0xdbff) {
      // A leading surrogate must be followed by an escaped trailing one.
      if (index_ == text_.size()) return error(kEofString);
      if (text_[index_] != '\\') {
        ++index_;
        return error("unexpected end of hex escape");
      }
      ++index_;
      if (index_ == text_.size()) return error(kEofString);
      if (text_[index_] != 'u') {
        ++index_;
        return error("unexpected end of hex escape");
      }
      ++index_;
      auto second = decode_hex();
      if (!second) return std::unexpected(second.error());
      if (*second < 0xdc00 || *second > 0xdfff) return error("lone leading surrogate in hex escape");
      cp = 0x10000 + ((cp - 0xd800) << 10) + (*second - 0xdc00);
    }
    append_utf8(out, cp);
  }
}

ReadResult<void> Reader::skip_string() {
  ++index_;  // opening quote
  for (;;) {
    index_ = string_stop(text_, index_);
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
      index_ += static_cast<std::size_t>(n);
      continue;
    }
    if (c < 0x20) {
      ++index_;
      return error("control character (\\u0000-\\u001F) found while parsing a string");
    }
    ++index_;
    if (index_ == text_.size()) return error(kEofString);
    const char e = text_[index_++];
    switch (e) {
      case '"': case '\\': case '/': case 'b': case 'f': case 'n': case 'r': case 't':
        continue;
      case 'u':
        // Any four hex digits: an unpaired surrogate is no fault in a value
        // that nobody reads.
        if (text_.size() - index_ < 4) {
          index_ = text_.size();
          return error(kEofString);
        }
        for (int k = 0; k < 4; ++k) {
          if (hex_value(static_cast<unsigned char>(text_[index_++])) < 0) return error("invalid escape");
        }
        continue;
      default:
        return error("invalid escape");
    }
  }
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

  static void merge_repeated_keys(std::vector<Member>& members) {
    std::vector<KeyOrder> order(members.size());
    for (std::size_t i = 0; i < members.size(); ++i) order[i] = {key_prefix(members[i].key), i};
    // By key, then by position: equal keys end up side by side, first one first.
    std::sort(order.begin(), order.end(), [&](const KeyOrder& a, const KeyOrder& b) {
      if (a.prefix != b.prefix) return a.prefix < b.prefix;
      if (const int c = members[a.index].key.compare(members[b.index].key); c != 0) return c < 0;
      return a.index < b.index;
    });
    std::vector<bool> dropped;
    for (std::size_t run = 0; run < order.size();) {
      const std::string& key = members[order[run].index].key;
      std::size_t last = run;
      while (last + 1 < order.size() && order[last + 1].prefix == order[run].prefix &&
             members[order[last + 1].index].key == key) {
        ++last;
      }
      if (last != run) {
        if (dropped.empty()) dropped.assign(members.size(), false);
        members[order[run].index].value = std::move(members[order[last].index].value);
        for (std::size_t k = run + 1; k <= last; ++k) dropped[order[k].index] = true;
      }
      run = last + 1;
    }
    if (dropped.empty()) return;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < members.size(); ++i) {
      if (dropped[i]) continue;
      if (kept != i) members[kept] = std::move(members[i]);
      ++kept;
    }
    members.erase(members.begin() + static_cast<std::ptrdiff_t>(kept), members.end());
  }
};

struct Frame {
  bool is_object = false;
  Array array;
  ObjectBuilder object;
};

}  // namespace

ReadResult<Value> Reader::read_value() {
  // The open containers. Room for a few levels is made when the first one
  // opens, rather than level by level (a scalar needs none).
  std::vector<Frame> stack;
  auto open = [&stack](bool is_object) -> Frame& {
    if (stack.capacity() == 0) stack.reserve(8);
    Frame& frame = stack.emplace_back();  // made in place, not moved in
    frame.is_object = is_object;
    return frame;
  };
  // Most strings are viewed in the text and copied once, into the key or
  // value that keeps them; `escaped` holds one that had to be unescaped,
  // until it is copied.
  std::string escaped;
  Value current;
  bool have_value = false;
  for (;;) {
    if (!have_value) {
      const int c = peek_after_whitespace();
      switch (c) {
        case kEnd:
          return peek_error(kEofValue);
        case 'n': {
          ++index_;
          if (auto r = parse_ident("ull"); !r) return std::unexpected(r.error());
          current = Value();
          break;
        }
        case 't': {
          ++index_;
          if (auto r = parse_ident("rue"); !r) return std::unexpected(r.error());
          current = Value::boolean(true);
          break;
        }
        case 'f': {
          ++index_;
          if (auto r = parse_ident("alse"); !r) return std::unexpected(r.error());
          current = Value::boolean(false);
          break;
        }
        case '"': {
          auto s = parse_string_view(escaped);
          if (!s) return std::unexpected(s.error());
          current = Value::string(*s);
          break;
        }
        case '[': {
          if (auto r = enter_level(); !r) return std::unexpected(r.error());
          ++index_;
          const int next = peek_after_whitespace();
          if (next == ']') {
            ++index_;
            leave_level();
            current = Value::array();
            break;
          }
          if (next == kEnd) return peek_error(kEofList);
          open(false);
          continue;
        }
        case '{': {
          if (auto r = enter_level(); !r) return std::unexpected(r.error());
          ++index_;
          const int next = peek_after_whitespace();
          if (next == '}') {
            ++index_;
            leave_level();
            current = Value::object();
            break;
          }
          if (next == kEnd) return peek_error(kEofObject);
          if (next != '"') return peek_error(kKeyMustBeString);
          auto key = parse_string_view(escaped);
          if (!key) return std::unexpected(key.error());
          if (auto r = parse_colon(); !r) return std::unexpected(r.error());
          open(true).object.start_member(*key);
          continue;
        }
        default: {
          if (c == '-' || is_digit(c)) {
            auto n = parse_number();
            if (!n) return std::unexpected(n.error());
            current = std::move(*n);
            break;
          }
          return peek_error(kExpectedValue);
        }
      }
      have_value = true;
    }

    if (stack.empty()) return current;
    Frame& top = stack.back();
    const int c = peek_after_whitespace();
    if (!top.is_object) {
      if (top.array.empty()) top.array.reserve(4);  // as for objects: most arrays are short
      top.array.push_back(std::move(current));
      if (c == ',') {
        ++index_;
        if (peek_after_whitespace() == ']') return peek_error(kTrailingComma);
        have_value = false;
        continue;
      }
      if (c == ']') {
        ++index_;
        leave_level();
        current = Value::array(std::move(top.array));
        stack.pop_back();
        continue;
      }
      return peek_error(c == kEnd ? kEofList : "expected `,` or `]`");
    }
    top.object.finish_member(std::move(current));
    if (c == ',') {
      ++index_;
      const int next = peek_after_whitespace();
      if (next == '}') return peek_error(kTrailingComma);
      if (next == kEnd) return peek_error(kEofValue);
      if (next != '"') return peek_error(kKeyMustBeString);
      auto key = parse_string_view(escaped);
      if (!key) return std::unexpected(key.error());
      if (auto r = parse_colon(); !r) return std::unexpected(r.error());
      top.object.start_member(*key);
      have_value = false;
      continue;
    }
    if (c == '}') {
      ++index_;
      leave_level();
      current = Value::object(top.object.finish());
      stack.pop_back();
      continue;
    }
    return peek_error(c == kEnd ? kEofObject : "expected `,` or `}`");
  }
}

ReadResult<void> Reader::skip_value(Depth depth, Numbers numbers) {
  const bool counted = depth == Depth::kLimited;
  // Each entry is an open container: true for an object.
  std::vector<bool> open;
  for (;;) {
    // One value.
    const int c = peek_after_whitespace();
    bool opened = false;
    switch (c) {
      case kEnd:
        return peek_error(kEofValue);
      case 'n':
        ++index_;
        if (auto r = parse_ident("ull"); !r) return r;
        break;
      case 't':
        ++index_;
        if (auto r = parse_ident("rue"); !r) return r;
        break;
      case 'f':
        ++index_;
        if (auto r = parse_ident("alse"); !r) return r;
        break;
      case '"':
        if (auto r = skip_string(); !r) return r;
        break;
      case '[':
      case '{': {
        if (counted) {
          if (auto r = enter_level(); !r) return r;
        }
        ++index_;
        const bool is_object = c == '{';
        const int next = peek_after_whitespace();
        if (next == (is_object ? '}' : ']')) {
          ++index_;
          if (counted) leave_level();
          break;
        }
        if (next == kEnd) return peek_error(is_object ? kEofObject : kEofList);
        if (is_object) {
          if (next != '"') return peek_error(kKeyMustBeString);
          if (auto r = skip_string(); !r) return r;
          if (auto r = parse_colon(); !r) return r;
        }
        open.push_back(is_object);
        opened = true;
        break;
      }
      default:
        if (c == '-' || is_digit(c)) {
          auto n = scan_number();
          if (!n) return std::unexpected(n.error());
          // A number nobody reads matters only by its form, unless it is to
          // be read whole all the same.
          if (numbers == Numbers::kInRange) {
            if (auto v = number_value(*n); !v) return std::unexpected(v.error());
          }
          break;
        }
        return peek_error(kExpectedValue);
    }
    if (opened) continue;
    // Close finished containers, then find where the next value starts.
    for (;;) {
      if (open.empty()) return {};
      const bool is_object = open.back();
      const int next = peek_after_whitespace();
      if (next == ',') {
        ++index_;
        const int after = peek_after_whitespace();
        if (after == (is_object ? '}' : ']')) return peek_error(kTrailingComma);
        if (is_object) {
          if (after == kEnd) return peek_error(kEofValue);
          if (after != '"') return peek_error(kKeyMustBeString);
          if (auto r = skip_string(); !r) return r;
          if (auto r = parse_colon(); !r) return r;
        }
        break;
      }
      if (next == (is_object ? '}' : ']')) {
        ++index_;
        if (counted) leave_level();
        open.pop_back();
        continue;
      }
      if (next == kEnd) return peek_error(is_object ? kEofObject : kEofList);
      return peek_error(is_object ? "expected `,` or `}`" : "expected `,` or `]`");
    }
  }
}

ReadError Reader::invalid_type_here(std::string_view expected) {
  std::string unexpected;
  const int c = peek_after_whitespace();
  switch (c) {
    case 'n':
      ++index_;
      if (auto r = parse_ident("ull"); !r) return r.error();
      unexpected = kUnexpectedNull;
      break;
    case 't':
      ++index_;
      if (auto r = parse_ident("rue"); !r) return r.error();
      unexpected = unexpected_bool(true);
      break;
    case 'f':
      ++index_;
      if (auto r = parse_ident("alse"); !r) return r.error();
      unexpected = unexpected_bool(false);
      break;
    case '"': {
      auto s = parse_string();
      if (!s) return s.error();
      unexpected = unexpected_string(*s);
      break;
    }
    case '[':
      unexpected = kUnexpectedSequence;
      break;
    case '{':
      unexpected = kUnexpectedMap;
      break;
    default: {
      if (c == '-' || is_digit(c)) {
        auto n = parse_number();
        if (!n) return n.error();
        unexpected = unexpected_value(*n);
        break;
      }
      return peek_error(c == kEnd ? kEofValue : kExpectedValue).error();
    }
  }
  return error(invalid_type(unexpected, expected)).error();
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
