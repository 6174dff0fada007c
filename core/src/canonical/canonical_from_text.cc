#include "canonical/canonical_from_text.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "canonical/canonical.h"
#include "json/number_text.h"
#include "json/string_escape.h"

namespace velkor {
namespace {

using json::Reader;
using json::ReadResult;

// Literals in these ranges have no other canonical text than their digits:
// integers within the unsigned and signed 64-bit ranges are kept as written.
bool integer_in_range(std::string_view digits, bool negative) {
  constexpr std::string_view kMaxUnsigned = "18446744073709551615";
  constexpr std::string_view kMaxNegative = "9223372036854775808";
  const std::string_view limit = negative ? kMaxNegative : kMaxUnsigned;
  if (digits.size() != limit.size()) return digits.size() < limit.size();
  return digits <= limit;
}

// The significant digits of a decimal literal (no leading or trailing zeros)
// and the decimal exponent of the first, when at most 15 of them and the
// exponent lies well inside the normal double range. Any such decimal reads
// to a double whose shortest round-trip digits are exactly these: a double
// tells apart every two decimals of 15 significant digits in that range.
bool evident_digits(std::string_view literal, char (&digits)[16], int& n, int& exponent) {
  std::size_t i = literal[0] == '-' ? 1 : 0;
  n = 0;
  int point_shift = 0;      // exponent contribution of the digits' position
  int trailing_zeros = 0;   // zeros after the last nonzero digit so far
  bool seen_nonzero = false;
  bool in_fraction = false;
  for (; i < literal.size(); ++i) {
    const char c = literal[i];
    if (c == '.') {
      in_fraction = true;
      continue;
    }
    if (c < '0' || c > '9') break;
    if (!seen_nonzero) {
      if (c == '0') {
        if (in_fraction) --point_shift;
        continue;
      }
      seen_nonzero = true;
      point_shift += in_fraction ? -1 : 0;
    } else if (!in_fraction) {
      ++point_shift;
    }
    if (c == '0') {
      ++trailing_zeros;
      continue;
    }
    if (n + trailing_zeros + 1 > 15) return false;
    std::fill_n(digits + n, trailing_zeros, '0');
    n += trailing_zeros;
    trailing_zeros = 0;
    digits[n++] = c;
  }
  if (!seen_nonzero) {
    n = 0;  // zero, whatever its exponent
    exponent = 0;
    return true;
  }
  long long exp = 0;
  if (i < literal.size()) {  // the exponent part
    ++i;
    bool negative = false;
    if (literal[i] == '+' || literal[i] == '-') negative = literal[i++] == '-';
    for (; i < literal.size(); ++i) {
      exp = exp * 10 + (literal[i] - '0');
      if (exp > 100000) return false;
    }
    if (negative) exp = -exp;
  }
  exp += point_shift;
  if (exp < -307 || exp > 307) return false;
  exponent = static_cast<int>(exp);
  return true;
}

// Whether a literal with a fraction is already its own canonical text: a plain
// positional decimal (no exponent) without superfluous zeros, of at most 15
// significant digits and a magnitude in the positional range, such as 101.23.
bool written_canonically(const json::NumberLiteral& number) {
  if (number.is_integer || number.has_exponent) return false;
  const std::string_view literal = number.text;
  const std::size_t fraction_digits = number.fraction_digits;
  const bool ends_in_zero = literal.back() == '0';
  if (ends_in_zero && fraction_digits > 1) return false;  // a trailing zero, except in `x.0`
  const char first = literal[number.negative ? 1 : 0];
  if (first != '0') {
    // d...d.f...f: positional when the exponent (int_digits - 1) is at most 15.
    return number.int_digits <= 16 && number.int_digits + (ends_in_zero ? 0 : fraction_digits) <= 15;
  }
  // 0.0...0f...f: the first significant digit at most 5 places after the point.
  const std::size_t fraction_begin = literal.size() - fraction_digits;
  std::size_t zeros = 0;
  while (zeros < fraction_digits && literal[fraction_begin + zeros] == '0') ++zeros;
  if (zeros == fraction_digits) return false;  // zero itself: "0.0" or "-0.0", handled elsewhere
  return zeros <= 4 && fraction_digits - zeros <= 15;
}

struct MemberSpan {
  std::size_t key_begin;
  std::size_t key_size;
  std::size_t value_begin;
  std::size_t value_size;
  bool plain_key;      // the key is written as it is, between quotes
  bool value_in_text;  // the value's canonical text is its literal in the input
};

bool needs_escape(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == '"' || c == '\\';
  });
}

struct Frame {
  bool is_object = false;
  std::size_t scratch_base = 0;  // objects: where their member texts start
  std::vector<MemberSpan> members;
};

}  // namespace

bool number_is_canonical(const json::NumberLiteral& number) {
  if (!number.is_integer) return written_canonically(number);
  return integer_in_range(number.text.substr(number.negative ? 1 : 0), number.negative) && number.text != "-0";
}

ReadResult<void> append_canonical_number(const Reader& reader, const json::NumberLiteral& number, std::string& out) {
  const std::string_view literal = number.text;
  if (number_is_canonical(number)) {
    out.append(literal);
    return {};
  }
  if (!number.is_integer) {
    char digits[16];
    int n = 0;
    int exponent = 0;
    if (evident_digits(literal, digits, n, exponent)) {
      json::append_decimal(out, number.negative, std::string_view(digits, static_cast<std::size_t>(n)), exponent);
      return {};
    }
  }
  auto value = reader.number_value(number);
  if (!value) return std::unexpected(value.error());
  append_canonical(out, *value);
  return {};
}

ReadResult<void> append_canonical_from_text(Reader& reader, std::string& out) {
  // Frames are reused as the reading goes up and down, so that the member
  // lists keep their capacity from one object to the next.
  std::vector<Frame> frames;
  std::size_t depth = 0;
  auto push = [&](bool is_object) -> Frame& {
    if (depth == frames.size()) frames.emplace_back();
    Frame& frame = frames[depth++];
    frame.is_object = is_object;
    frame.scratch_base = 0;
    frame.members.clear();
    return frame;
  };
  std::size_t open_objects = 0;
  // Member texts of the open objects, innermost last; an object's text moves
  // to its parent once it is complete and sorted.
  std::string scratch;
  std::string assembled;
  std::string unescaped;  // a string literal's text when it holds escapes
  auto dest = [&]() -> std::string& { return open_objects > 0 ? scratch : out; };
  // The canonical text is about as long as the literal text it comes from.
  out.reserve(out.size() + (reader.text().size() - reader.index()));

  // After a key and its colon: remembers where the member's value starts.
  auto begin_member = [&](Frame& frame, std::string_view key) {
    const std::size_t key_begin = scratch.size();
    // A key viewed in place in the text holds no byte that needs escaping.
    const bool in_place = key.data() >= reader.text().data() && key.data() <= reader.text().data() + reader.text().size();
    const bool plain = in_place || !needs_escape(key);
    scratch.append(key);
    frame.members.push_back(MemberSpan{key_begin, key.size(), scratch.size(), 0, plain, false});
  };

  // A scalar that is its own canonical text, as a member's value, is referred
  // to where it stands in the input instead of being copied aside.
  const char* const input = reader.text().data();
  auto place_literal = [&](std::string_view literal) {
    if (depth > 0 && frames[depth - 1].is_object) {
      MemberSpan& member = frames[depth - 1].members.back();
      member.value_in_text = true;
      member.value_begin = static_cast<std::size_t>(literal.data() - input);
      member.value_size = literal.size();
      return;
    }
    dest().append(literal);
  };

  // Writes the object whose members are complete, in key order, into `target`;
  // the later of two equal keys wins.
  auto close_object = [&](Frame& frame, std::string& target) {
    std::vector<MemberSpan>& members = frame.members;
    auto key_of = [&](const MemberSpan& m) { return std::string_view(scratch).substr(m.key_begin, m.key_size); };
    auto before = [&](const MemberSpan& a, const MemberSpan& b) {
      // Short keys usually differ in their first byte: decide that inline.
      if (a.key_size > 0 && b.key_size > 0) {
        const auto x = static_cast<unsigned char>(scratch[a.key_begin]);
        const auto y = static_cast<unsigned char>(scratch[b.key_begin]);
        if (x != y) return x < y;
      }
      return key_of(a) < key_of(b);
    };
    if (members.size() <= 16) {
      // Insertion sort: stable, and without the buffer stable_sort allocates.
      for (std::size_t i = 1; i < members.size(); ++i) {
        const MemberSpan m = members[i];
        std::size_t j = i;
        for (; j > 0 && before(m, members[j - 1]); --j) members[j] = members[j - 1];
        members[j] = m;
      }
    } else {
      std::stable_sort(members.begin(), members.end(), before);
    }
    // After sorting, a repeated key stands right before its later value.
    auto kept = [&](std::size_t i) {
      if (i + 1 == members.size()) return true;
      const MemberSpan& a = members[i];
      const MemberSpan& b = members[i + 1];
      if (a.key_size != b.key_size) return true;
      if (a.key_size > 0 && scratch[a.key_begin] != scratch[b.key_begin]) return true;
      return key_of(a) != key_of(b);
    };
    std::size_t size = 2;
    bool plain = true;
    for (std::size_t i = 0; i < members.size(); ++i) {
      if (!kept(i)) continue;
      size += members[i].key_size + members[i].value_size + 4;
      plain = plain && members[i].plain_key;
    }
    if (plain) {
      // The common case, written in one go: {"key":value,...}
      const std::size_t old_size = target.size();
      target.resize_and_overwrite(old_size + size, [&](char* text, std::size_t) {
        char* p = text + old_size;
        *p++ = '{';
        for (std::size_t i = 0; i < members.size(); ++i) {
          if (!kept(i)) continue;
          if (p[-1] != '{') *p++ = ',';
          *p++ = '"';
          p = std::copy_n(scratch.data() + members[i].key_begin, members[i].key_size, p);
          *p++ = '"';
          *p++ = ':';
          const char* value = members[i].value_in_text ? input : scratch.data();
          p = std::copy_n(value + members[i].value_begin, members[i].value_size, p);
        }
        *p++ = '}';
        return static_cast<std::size_t>(p - text);
      });
    } else {
      target.push_back('{');
      bool first = true;
      for (std::size_t i = 0; i < members.size(); ++i) {
        if (!kept(i)) continue;
        if (!first) target.push_back(',');
        first = false;
        json::append_json_string(target, key_of(members[i]));
        target.push_back(':');
        const char* value = members[i].value_in_text ? input : scratch.data();
        target.append(value + members[i].value_begin, members[i].value_size);
      }
      target.push_back('}');
    }
    scratch.resize(frame.scratch_base);
  };

  bool have_value = false;
  for (;;) {
    if (!have_value) {
      const int c = reader.peek_after_whitespace();
      switch (c) {
        case Reader::kEnd:
          return reader.peek_error("EOF while parsing a value");
        case 'n':
        case 't':
        case 'f': {
          const std::size_t start = reader.index();
          reader.eat();
          const std::string_view rest = c == 'n' ? "ull" : c == 't' ? "rue" : "alse";
          if (auto r = reader.parse_ident(rest); !r) return r;
          place_literal(reader.text().substr(start, reader.index() - start));
          break;
        }
        case '"': {
          const std::size_t start = reader.index();
          auto s = reader.parse_string_view(unescaped);
          if (!s) return std::unexpected(s.error());
          if (s->data() >= input && s->data() <= input + reader.text().size()) {
            // Viewed in place: no escape in the literal and nothing to escape.
            place_literal(reader.text().substr(start, reader.index() - start));
            break;
          }
          json::append_json_string(dest(), *s);
          break;
        }
        case '[': {
          if (auto r = reader.enter_level(); !r) return r;
          reader.eat();
          const int next = reader.peek_after_whitespace();
          if (next == ']') {
            reader.eat();
            reader.leave_level();
            dest().append("[]");
            break;
          }
          if (next == Reader::kEnd) return reader.peek_error("EOF while parsing a list");
          dest().push_back('[');
          push(false);
          continue;
        }
        case '{': {
          if (auto r = reader.enter_level(); !r) return r;
          reader.eat();
          const int next = reader.peek_after_whitespace();
          if (next == '}') {
            reader.eat();
            reader.leave_level();
            dest().append("{}");
            break;
          }
          if (next == Reader::kEnd) return reader.peek_error("EOF while parsing an object");
          if (next != '"') return reader.peek_error("key must be a string");
          auto key = reader.parse_string_view(unescaped);
          if (!key) return std::unexpected(key.error());
          if (auto r = reader.parse_colon(); !r) return r;
          Frame& frame = push(true);
          frame.scratch_base = scratch.size();
          ++open_objects;
          begin_member(frame, *key);
          continue;
        }
        default: {
          if (c != '-' && (c < '0' || c > '9')) return reader.peek_error("expected value");
          auto number = reader.scan_number();
          if (!number) return std::unexpected(number.error());
          if (number_is_canonical(*number)) {
            place_literal(number->text);
            break;
          }
          if (auto r = append_canonical_number(reader, *number, dest()); !r) return r;
          break;
        }
      }
      have_value = true;
    }

    // A value is complete: continue or close the innermost container.
    if (depth == 0) {
      // Give back what the estimate reserved beyond need.
      if (out.capacity() > out.size() + out.size() / 4 + 65536) out.shrink_to_fit();
      return {};
    }
    Frame& top = frames[depth - 1];
    const int c = reader.peek_after_whitespace();
    if (!top.is_object) {
      if (c == ',') {
        reader.eat();
        if (reader.peek_after_whitespace() == ']') return reader.peek_error("trailing comma");
        dest().push_back(',');
        have_value = false;
        continue;
      }
      if (c == ']') {
        reader.eat();
        reader.leave_level();
        dest().push_back(']');
        --depth;
        continue;
      }
      return reader.peek_error(c == Reader::kEnd ? "EOF while parsing a list" : "expected `,` or `]`");
    }
    MemberSpan& member = top.members.back();
    if (!member.value_in_text) member.value_size = scratch.size() - member.value_begin;
    if (c == ',') {
      reader.eat();
      const int next = reader.peek_after_whitespace();
      if (next == '}') return reader.peek_error("trailing comma");
      if (next == Reader::kEnd) return reader.peek_error("EOF while parsing a value");
      if (next != '"') return reader.peek_error("key must be a string");
      auto key = reader.parse_string_view(unescaped);
      if (!key) return std::unexpected(key.error());
      if (auto r = reader.parse_colon(); !r) return r;
      begin_member(top, *key);
      have_value = false;
      continue;
    }
    if (c == '}') {
      reader.eat();
      reader.leave_level();
      --depth;
      if (--open_objects == 0) {
        close_object(top, out);  // straight into the output
        continue;
      }
      // The parent's text lives in scratch too: assemble aside, then append.
      assembled.clear();
      close_object(top, assembled);
      scratch.append(assembled);
      continue;
    }
    return reader.peek_error(c == Reader::kEnd ? "EOF while parsing an object" : "expected `,` or `}`");
  }
}

}  // namespace velkor
