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

// Copies a few bytes (a key fragment, a number): a plain loop, since a
// library call costs more than the copy at these sizes.
char* copy_short(const char* from, std::size_t n, char* to) {
  for (std::size_t i = 0; i < n; ++i) to[i] = from[i];
  return to + n;
}

// Whether `text` holds `key` at `at`, in quotes.
bool quoted_key_at(std::string_view text, std::size_t at, std::string_view key) {
  if (text.size() - at < key.size() + 2 || text[at] != '"' || text[at + key.size() + 1] != '"') return false;
  for (std::size_t i = 0; i < key.size(); ++i) {
    if (text[at + 1 + i] != key[i]) return false;
  }
  return true;
}

struct MemberSpan {
  std::size_t key_begin;
  std::size_t key_size;
  std::size_t value_begin;
  std::size_t value_size;
  bool value_in_text;  // the value's canonical text is its literal in the input
};

// How the last object closed at one depth was written: its keys in the order
// they came, and the members it wrote, in key order, each with the text that
// stands before its value ({"key": or ,"key":). Series of objects with the
// same keys, such as market data, then need no sorting and no escaping.
struct ObjectLayout {
  bool valid = false;
  // Every key is written in JSON as its own bytes between quotes (nothing to
  // escape), so that the next object's keys can be matched in the raw text.
  bool plain_keys = false;
  std::string keys;                      // concatenated, in the order received
  std::vector<std::size_t> key_sizes;
  std::vector<std::size_t> order;        // member index per written member
  std::string fragments;                 // concatenated, in written order
  std::vector<std::size_t> fragment_ends;

  bool matches(const std::vector<MemberSpan>& members, const std::string& scratch) const {
    if (!valid || members.size() != key_sizes.size()) return false;
    std::size_t at = 0;
    for (std::size_t i = 0; i < members.size(); ++i) {
      const std::size_t n = members[i].key_size;
      if (n != key_sizes[i]) return false;
      const char* key = scratch.data() + members[i].key_begin;
      for (std::size_t k = 0; k < n; ++k) {
        if (key[k] != keys[at + k]) return false;
      }
      at += n;
    }
    return true;
  }
};

struct Frame {
  bool is_object = false;
  std::size_t scratch_base = 0;  // objects: where their member texts start
  std::vector<MemberSpan> members;
  ObjectLayout layout;  // kept while the frame is reused for later objects
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

ReadResult<void> append_canonical_from_text(Reader& reader, std::string& out, const CanonicalWriter::Sink* stream) {
  // Streaming hands over whatever `out` holds between two values of the
  // outermost array, once it is a piece's worth.
  constexpr std::size_t kStreamPiece = 64 * 1024;
  auto hand_over = [&] {
    if (!out.empty()) (*stream)(out);
    out.clear();
  };
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
  if (stream == nullptr) {
    out.reserve(out.size() + (reader.text().size() - reader.index()));
  } else {
    hand_over();
    out.reserve(kStreamPiece + 4096);
  }

  // After a key and its colon: remembers where the member's value starts.
  auto begin_member = [&](Frame& frame, std::string_view key) {
    const std::size_t key_begin = scratch.size();
    scratch.append(key);
    frame.members.push_back(MemberSpan{key_begin, key.size(), scratch.size(), 0, false});
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

  // Works out how an object with these keys is written: sorted by key bytes,
  // the later of two equal keys kept, each key escaped into its fragment.
  std::vector<std::size_t> by_key;
  auto plan_layout = [&](const std::vector<MemberSpan>& members, ObjectLayout& layout) {
    auto key_of = [&](std::size_t i) {
      return std::string_view(scratch).substr(members[i].key_begin, members[i].key_size);
    };
    by_key.resize(members.size());
    for (std::size_t i = 0; i < members.size(); ++i) by_key[i] = i;
    std::stable_sort(by_key.begin(), by_key.end(), [&](std::size_t a, std::size_t b) { return key_of(a) < key_of(b); });
    layout.keys.clear();
    layout.key_sizes.clear();
    for (std::size_t i = 0; i < members.size(); ++i) {
      layout.keys.append(key_of(i));
      layout.key_sizes.push_back(members[i].key_size);
    }
    layout.plain_keys = std::ranges::none_of(layout.keys, [](char c) {
      return static_cast<unsigned char>(c) < 0x20 || c == '"' || c == '\\';
    });
    layout.order.clear();
    layout.fragments.clear();
    layout.fragment_ends.clear();
    for (std::size_t j = 0; j < by_key.size(); ++j) {
      // After sorting, a repeated key stands right before its later value.
      if (j + 1 < by_key.size() && key_of(by_key[j]) == key_of(by_key[j + 1])) continue;
      layout.fragments.push_back(layout.order.empty() ? '{' : ',');
      json::append_json_string(layout.fragments, key_of(by_key[j]));
      layout.fragments.push_back(':');
      layout.fragment_ends.push_back(layout.fragments.size());
      layout.order.push_back(by_key[j]);
    }
    layout.valid = true;
  };

  // Writes an object whose members are complete, laid out as `layout`, in
  // key order into `target`.
  auto write_object = [&](const Frame& frame, std::string& target) {
    const std::vector<MemberSpan>& members = frame.members;
    const ObjectLayout& layout = frame.layout;
    std::size_t size = layout.fragments.size() + 1;
    for (std::size_t m : layout.order) size += members[m].value_size;
    const std::size_t old_size = target.size();
    target.resize_and_overwrite(old_size + size, [&](char* text, std::size_t) {
      char* p = text + old_size;
      std::size_t fragment_begin = 0;
      for (std::size_t j = 0; j < layout.order.size(); ++j) {
        const std::size_t fragment_end = layout.fragment_ends[j];
        p = copy_short(layout.fragments.data() + fragment_begin, fragment_end - fragment_begin, p);
        fragment_begin = fragment_end;
        const MemberSpan& member = members[layout.order[j]];
        const char* value = member.value_in_text ? input : scratch.data();
        p = member.value_size <= 32 ? copy_short(value + member.value_begin, member.value_size, p)
                                    : std::copy_n(value + member.value_begin, member.value_size, p);
      }
      *p++ = '}';
      return static_cast<std::size_t>(p - text);
    });
  };
  auto close_object = [&](Frame& frame, std::string& target) {
    if (!frame.layout.matches(frame.members, scratch)) plan_layout(frame.members, frame.layout);
    write_object(frame, target);
    scratch.resize(frame.scratch_base);
  };

  // Series of objects with the same keys in the same order and scalar values
  // (market data) take a quicker way: after `{`, each key is matched in the
  // raw text against the last object's at this depth and each value scanned
  // as a literal that is its own canonical text. Anything else (another key,
  // an escape, a nested value, a value to rewrite, a fault) returns false
  // with the reader back after the `{`, for the general reading to take over.
  auto read_like_last = [&](Frame& frame) -> bool {
    const ObjectLayout& layout = frame.layout;
    if (!layout.valid || !layout.plain_keys) return false;
    const std::size_t start = reader.index();
    auto give_up = [&] {
      reader.rewind(start);
      return false;
    };
    frame.members.clear();
    std::size_t key_at = 0;
    for (std::size_t i = 0; i < layout.key_sizes.size(); ++i) {
      if (i > 0) {
        if (reader.peek_after_whitespace() != ',') return give_up();
        reader.eat();
      }
      const std::string_view key = std::string_view(layout.keys).substr(key_at, layout.key_sizes[i]);
      key_at += key.size();
      if (reader.peek_after_whitespace() != '"' || !quoted_key_at(reader.text(), reader.index(), key)) return give_up();
      reader.rewind(reader.index() + key.size() + 2);
      if (reader.peek_after_whitespace() != ':') return give_up();
      reader.eat();
      const int c = reader.peek_after_whitespace();
      const std::size_t value_begin = reader.index();
      if (c == '-' || (c >= '0' && c <= '9')) {
        auto number = reader.scan_number();
        if (!number || !number_is_canonical(*number)) return give_up();
      } else if (c == '"') {
        auto s = reader.parse_string_view(unescaped);
        if (!s || s->data() < input || s->data() > input + reader.text().size()) return give_up();
      } else if (c == 't' || c == 'f' || c == 'n') {
        reader.eat();
        if (!reader.parse_ident(c == 'n' ? "ull" : c == 't' ? "rue" : "alse")) return give_up();
      } else {
        return give_up();
      }
      frame.members.push_back(MemberSpan{0, 0, value_begin, reader.index() - value_begin, true});
    }
    if (reader.peek_after_whitespace() != '}') return give_up();
    reader.eat();
    return true;
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
          if (depth < frames.size() && read_like_last(frames[depth])) {
            reader.leave_level();
            write_object(frames[depth], dest());
            break;
          }
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
      if (stream != nullptr) {
        hand_over();
        return {};
      }
      // Give back what the estimate reserved beyond need.
      if (out.capacity() > out.size() + out.size() / 4 + 65536) out.shrink_to_fit();
      return {};
    }
    if (stream != nullptr && open_objects == 0 && out.size() >= kStreamPiece) hand_over();
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
