#include "canonical/canonical_from_text.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "canonical/canonical.h"
#include "json/number_text.h"
#include "json/string_escape.h"
#include "json/string_scan.h"
#include "json/tokenizer.h"

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
inline bool written_canonically(const json::NumberLiteral& number) {
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

// Copies a few bytes (a key fragment, a number). Up to kCopyBlock bytes go
// as one fixed-size block, which compiles to a single load and store, when
// the caller knows that a whole block can be read at `from` and written at
// `to`: the bytes past `n` are overwritten by whatever is written next.
constexpr std::size_t kCopyBlock = 16;
char* copy_short(const char* from, std::size_t n, char* to, bool whole_block_readable) {
  if (n <= kCopyBlock && whole_block_readable) {
    std::memcpy(to, from, kCopyBlock);
  } else {
    std::memcpy(to, from, n);
  }
  return to + n;
}

inline bool number_is_canonical(const json::NumberLiteral& number) {
  if (!number.is_integer) return written_canonically(number);
  // Up to 18 digits always lie in range; only -0 is written otherwise.
  if (number.int_digits <= 18) return !(number.negative && number.int_digits == 1 && number.text[1] == '0');
  return integer_in_range(number.text.substr(number.negative ? 1 : 0), number.negative);
}

// Steps over JSON whitespace.
const char* skip_whitespace(const char* p, const char* end) {
  while (p != end && (*p == ' ' || *p == '\n' || *p == '\r' || *p == '\t')) ++p;
  return p;
}

bool is_digit(const char* p, const char* end) { return p != end && static_cast<unsigned char>(*p - '0') < 10; }

// Steps over a run of ASCII digits, eight bytes at a time while eight can be
// read: numbers in market data have digit runs of varying length, and a
// byte-by-byte loop pays a mispredicted exit on each. The word test takes the
// text's first byte as the word's lowest; on any other byte order the byte
// loop runs alone.
const char* skip_digits(const char* p, const char* end) {
  while (std::endian::native == std::endian::little && end - p >= 8) {
    std::uint64_t bytes;
    std::memcpy(&bytes, p, 8);
    // A byte is a digit when its high nibble is 3 and adding 6 keeps it 3.
    // A carry out of a non-digit byte only disturbs the bytes after it.
    constexpr std::uint64_t kHigh = 0xF0F0F0F0F0F0F0F0;
    constexpr std::uint64_t kThrees = 0x3030303030303030;
    const std::uint64_t not_digit = ((bytes & kHigh) ^ kThrees) | (((bytes + 0x0606060606060606) & kHigh) ^ kThrees);
    if (not_digit != 0) {
      // Bytes are loaded little-endian: the lowest set bit is in the first non-digit.
      return p + std::countr_zero(not_digit) / 8;
    }
    p += 8;
  }
  while (is_digit(p, end)) ++p;
  return p;
}

// The end of a scalar at `p` whose literal is already its canonical text and
// needs no unescaping: a number that number_is_canonical accepts, a string
// with no escape and no byte that needs one or a check (control, non-ASCII),
// or a literal name. nullptr for anything else, faults included, which the
// reader then handles with its own messages. Inlined into both quick paths:
// it runs for every value of market data.
[[gnu::always_inline]] inline const char* canonical_scalar_end(const char* p, const char* end) {
  if (p == end) return nullptr;
  const char first = *p;
  if (first == '"') {
    p = json::find_string_stop(p + 1, end);
    return p != end && *p == '"' ? p + 1 : nullptr;
  }
  if (first == 't' || first == 'f' || first == 'n') {
    const std::string_view name = first == 't' ? "true" : first == 'f' ? "false" : "null";
    if (static_cast<std::size_t>(end - p) < name.size() || !std::equal(name.begin(), name.end(), p)) return nullptr;
    p += name.size();
    // A name running on into letters is a fault for the reader to describe.
    return p != end && static_cast<unsigned char>((*p | 0x20) - 'a') < 26 ? nullptr : p;
  }
  json::NumberLiteral number{{}, first == '-', true};
  const char* const begin = p;
  if (number.negative) ++p;
  const char* const int_begin = p;
  if (!is_digit(p, end)) return nullptr;
  if (*p++ == '0') {
    if (is_digit(p, end)) return nullptr;
  } else {
    p = skip_digits(p, end);
  }
  number.int_digits = static_cast<std::size_t>(p - int_begin);
  if (p != end && *p == '.') {
    number.is_integer = false;
    const char* const fraction_begin = ++p;
    p = skip_digits(p, end);
    number.fraction_digits = static_cast<std::size_t>(p - fraction_begin);
    if (number.fraction_digits == 0) return nullptr;
  }
  if (p != end && (*p == 'e' || *p == 'E')) return nullptr;
  number.text = std::string_view(begin, static_cast<std::size_t>(p - begin));
  return number_is_canonical(number) ? p : nullptr;
}

// The position after `expected` when the bytes at `p` are exactly those,
// else nullptr. `expected` lies in the same text, which ends at `end`. Up to
// eight bytes are compared as one word when eight can be read at both.
const char* match_bytes(const char* p, const char* end, std::string_view expected) {
  const std::size_t n = expected.size();
  if (static_cast<std::size_t>(end - p) < n) return nullptr;
  if (n <= 8 && end - p >= 8 && end - expected.data() >= 8) {
    std::uint64_t have;
    std::uint64_t want;
    std::memcpy(&have, p, 8);
    std::memcpy(&want, expected.data(), 8);
    const std::uint64_t mask = n == 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * n)) - 1;
    return ((have ^ want) & mask) == 0 ? p + n : nullptr;
  }
  return std::equal(expected.begin(), expected.end(), p) ? p + n : nullptr;
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
  // The raw bytes before each value and before the closing brace of the last
  // object read the quicker way, as views into the input (whitespace, commas,
  // quoted keys, colons; checked when first read). An object written byte for
  // byte like it is matched against them whole. Empty when not known.
  std::vector<std::string_view> separators;

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


// The tokenizer's handler that writes canonical text (see the header). Arrays
// are written as their tokens come; an object's members are collected (keys
// and values that are not their own literal, in `scratch_`) until its closing
// brace, then written in key order into its parent's text.
class CanonicalFromText {
 public:
  static constexpr bool kDecodeStrings = true;

  CanonicalFromText(Reader& reader, std::string& out, const TextSink* stream)
      : reader_(reader), out_(out), stream_(stream), input_(reader.text().data()),
        input_end_(input_ + reader.text().size()) {
    // The canonical text is about as long as the literal text it comes from.
    if (stream_ == nullptr) {
      out_.reserve(out_.size() + (reader.text().size() - reader.index()));
    } else {
      hand_over();
      out_.reserve(kStreamPiece + 4096);
    }
  }

  void name(std::size_t begin, std::size_t end) { place_literal(literal(begin, end)); }
  void string(std::string_view value, std::size_t begin, std::size_t end) {
    // Viewed in place: no escape in the literal and nothing to escape.
    if (value.data() >= input_ && value.data() <= input_end_) {
      place_literal(literal(begin, end));
      return;
    }
    json::append_json_string(dest(), value);
  }
  ReadResult<void> number(const json::NumberLiteral& number) {
    if (number_is_canonical(number)) {
      place_literal(number.text);
      return {};
    }
    return append_canonical_number(reader_, number, dest());
  }
  void empty(bool is_object, std::size_t, std::size_t) { dest().append(is_object ? "{}" : "[]"); }
  void open_array(std::size_t) {
    dest().push_back('[');
    push(false);
  }
  bool open_object(Reader&, std::size_t);
  void key(std::string_view key, std::size_t) {
    Frame& frame = frames_[depth_ - 1];
    if (!frame.members.empty()) end_member(frame);
    const std::size_t key_begin = scratch_.size();
    scratch_.append(key);
    frame.members.push_back(MemberSpan{key_begin, key.size(), scratch_.size(), 0, false});
  }
  void next_element() {
    hand_over_when_full();
    dest().push_back(',');
  }
  void close(bool is_object, std::size_t);
  // After the whole value: the rest goes to the stream, or the room reserved
  // beyond need is given back.
  void finish();

 private:
  // Streaming hands over whatever `out_` holds between two values of the
  // outermost array, once it is a piece's worth.
  static constexpr std::size_t kStreamPiece = 64 * 1024;

  std::string_view literal(std::size_t begin, std::size_t end) const {
    return std::string_view(input_ + begin, end - begin);
  }
  std::string& dest() { return open_objects_ > 0 ? scratch_ : out_; }
  void hand_over() {
    if (!out_.empty()) (*stream_)(out_);
    out_.clear();
  }
  // Between two values of the outermost array (no object open, whose text
  // would still be in scratch), a piece's worth goes to the stream.
  void hand_over_when_full() {
    if (stream_ != nullptr && open_objects_ == 0 && out_.size() >= kStreamPiece) hand_over();
  }
  Frame& push(bool is_object);
  void place_literal(std::string_view literal);
  void end_member(Frame& frame) {
    MemberSpan& member = frame.members.back();
    if (!member.value_in_text) member.value_size = scratch_.size() - member.value_begin;
  }
  void plan_layout(const std::vector<MemberSpan>& members, ObjectLayout& layout);
  void write_object(const Frame& frame, std::string& target);
  void close_object(Frame& frame, std::string& target) {
    if (!frame.layout.matches(frame.members, scratch_)) plan_layout(frame.members, frame.layout);
    write_object(frame, target);
    scratch_.resize(frame.scratch_base);
  }
  const char* read_like_last(Frame& frame, const char* p);
  const char* read_like_last_again(Frame& frame, const char* p);
  void read_run_like_last(Frame& frame);

  Reader& reader_;
  std::string& out_;
  const TextSink* const stream_;
  const char* const input_;
  const char* const input_end_;
  // Frames are reused as the reading goes up and down, so that the member
  // lists keep their capacity from one object to the next.
  std::vector<Frame> frames_;
  std::size_t depth_ = 0;
  std::size_t open_objects_ = 0;
  // Member texts of the open objects, innermost last; an object's text moves
  // to its parent once it is complete and sorted.
  std::string scratch_;
  std::string assembled_;
  std::vector<std::size_t> by_key_;
};

Frame& CanonicalFromText::push(bool is_object) {
  if (depth_ == frames_.size()) frames_.emplace_back();
  Frame& frame = frames_[depth_++];
  frame.is_object = is_object;
  frame.scratch_base = scratch_.size();
  frame.members.clear();
  return frame;
}

// A scalar that is its own canonical text, as a member's value, is referred
// to where it stands in the input instead of being copied aside.
void CanonicalFromText::place_literal(std::string_view literal) {
  if (depth_ > 0 && frames_[depth_ - 1].is_object) {
    MemberSpan& member = frames_[depth_ - 1].members.back();
    member.value_in_text = true;
    member.value_begin = static_cast<std::size_t>(literal.data() - input_);
    member.value_size = literal.size();
    return;
  }
  dest().append(literal);
}

bool CanonicalFromText::open_object(Reader& reader, std::size_t) {
  if (depth_ < frames_.size()) {
    if (const char* after = read_like_last(frames_[depth_], input_ + reader.index())) {
      reader.rewind(static_cast<std::size_t>(after - input_));
      write_object(frames_[depth_], dest());
      // Its siblings in an array are at the same level: no deeper than this one.
      if (depth_ > 0 && !frames_[depth_ - 1].is_object) read_run_like_last(frames_[depth_]);
      return true;
    }
  }
  push(true);
  ++open_objects_;
  return false;
}

void CanonicalFromText::close(bool is_object, std::size_t) {
  Frame& top = frames_[--depth_];
  if (!is_object) {
    hand_over_when_full();
    dest().push_back(']');
    return;
  }
  end_member(top);
  if (--open_objects_ == 0) {
    close_object(top, out_);  // straight into the output
    return;
  }
  // The parent's text lives in scratch too: assemble aside, then append.
  assembled_.clear();
  close_object(top, assembled_);
  scratch_.append(assembled_);
}

void CanonicalFromText::finish() {
  if (stream_ != nullptr) {
    hand_over();
    return;
  }
  if (out_.capacity() > out_.size() + out_.size() / 4 + 65536) out_.shrink_to_fit();
}

// Works out how an object with these keys is written: sorted by key bytes,
// the later of two equal keys kept, each key escaped into its fragment.
void CanonicalFromText::plan_layout(const std::vector<MemberSpan>& members, ObjectLayout& layout) {
  auto key_of = [&](std::size_t i) {
    return std::string_view(scratch_).substr(members[i].key_begin, members[i].key_size);
  };
  by_key_.resize(members.size());
  for (std::size_t i = 0; i < members.size(); ++i) by_key_[i] = i;
  std::stable_sort(by_key_.begin(), by_key_.end(), [&](std::size_t a, std::size_t b) { return key_of(a) < key_of(b); });
  layout.keys.clear();
  layout.separators.clear();
  layout.key_sizes.clear();
  for (std::size_t i = 0; i < members.size(); ++i) {
    layout.keys.append(key_of(i));
    layout.key_sizes.push_back(members[i].key_size);
  }
  const char* const keys_end = layout.keys.data() + layout.keys.size();
  layout.plain_keys = json::find_escape(layout.keys.data(), keys_end) == keys_end;
  layout.order.clear();
  layout.fragments.clear();
  layout.fragment_ends.clear();
  for (std::size_t j = 0; j < by_key_.size(); ++j) {
    // After sorting, a repeated key stands right before its later value.
    if (j + 1 < by_key_.size() && key_of(by_key_[j]) == key_of(by_key_[j + 1])) continue;
    layout.fragments.push_back(layout.order.empty() ? '{' : ',');
    json::append_json_key(layout.fragments, key_of(by_key_[j]));
    layout.fragment_ends.push_back(layout.fragments.size());
    layout.order.push_back(by_key_[j]);
  }
  // Room for the last fragment to be copied as a whole block.
  layout.fragments.append(kCopyBlock, '\0');
  layout.valid = true;
}

// Writes an object whose members are complete, laid out as its frame's
// layout, in key order into `target`.
void CanonicalFromText::write_object(const Frame& frame, std::string& target) {
  const std::vector<MemberSpan>& members = frame.members;
  const ObjectLayout& layout = frame.layout;
  const std::size_t input_size = static_cast<std::size_t>(input_end_ - input_);
  std::size_t size = layout.fragment_ends.back() + 1;
  for (std::size_t m : layout.order) size += members[m].value_size;
  const std::size_t old_size = target.size();
  // Asks for a block more than the text needs, so that every copy may
  // write a whole block; the size returned is the text's.
  target.resize_and_overwrite(old_size + size + kCopyBlock, [&](char* text, std::size_t) {
    char* p = text + old_size;
    std::size_t fragment_begin = 0;
    for (std::size_t j = 0; j < layout.order.size(); ++j) {
      const std::size_t fragment_end = layout.fragment_ends[j];
      p = copy_short(layout.fragments.data() + fragment_begin, fragment_end - fragment_begin, p, true);
      fragment_begin = fragment_end;
      const MemberSpan& member = members[layout.order[j]];
      const bool in_text = member.value_in_text;
      const char* value = (in_text ? input_ : scratch_.data()) + member.value_begin;
      const std::size_t source_size = in_text ? input_size : scratch_.size();
      p = copy_short(value, member.value_size, p, member.value_begin + kCopyBlock <= source_size);
    }
    *p++ = '}';
    return static_cast<std::size_t>(p - text);
  });
}

// Series of objects with the same keys in the same order and scalar values
// (market data) take a quicker way: after `{`, each key is matched in the
// raw text against the last object's at this depth and each value scanned
// as a literal that is its own canonical text. It walks a plain pointer
// rather than the reader's cursor, since it runs once per candle of data
// that can hold millions: `p` is just after the `{`, and the result is just
// after the `}`. Anything else (another key, an escape, a nested value, a
// value to rewrite, a fault) gives nullptr, the reader still after the `{`,
// for the general reading to take over.
const char* CanonicalFromText::read_like_last(Frame& frame, const char* p) {
  ObjectLayout& layout = frame.layout;
  if (!layout.valid || !layout.plain_keys) return nullptr;
  const std::size_t count = layout.key_sizes.size();
  // Written exactly like the last one (the usual case in market data): only
  // the values are to be read.
  if (layout.separators.size() == count + 1) {
    frame.members.clear();
    const char* q = p;
    for (std::size_t i = 0; i < count && q != nullptr; ++i) {
      q = match_bytes(q, input_end_, layout.separators[i]);
      const char* const value_begin = q;
      if (q != nullptr) q = canonical_scalar_end(q, input_end_);
      if (q != nullptr) {
        frame.members.push_back(MemberSpan{0, 0, static_cast<std::size_t>(value_begin - input_),
                                           static_cast<std::size_t>(q - value_begin), true});
      }
    }
    if (q != nullptr) q = match_bytes(q, input_end_, layout.separators.back());
    if (q != nullptr && q != input_end_ && *q == '}') return q + 1;
  }
  return read_like_last_again(frame, p);
}

// The same keys as the last object, written with other separators: the keys
// are matched one by one, and the separators kept for the next object.
const char* CanonicalFromText::read_like_last_again(Frame& frame, const char* p) {
  ObjectLayout& layout = frame.layout;
  const std::size_t count = layout.key_sizes.size();
  frame.members.clear();
  layout.separators.clear();
  const char* key = layout.keys.data();
  for (std::size_t i = 0; i < count; ++i) {
    const char* const separator = p;
    if (i > 0) {
      p = skip_whitespace(p, input_end_);
      if (p == input_end_ || *p != ',') return nullptr;
      ++p;
    }
    p = skip_whitespace(p, input_end_);
    const std::size_t n = layout.key_sizes[i];
    if (static_cast<std::size_t>(input_end_ - p) < n + 2 || p[0] != '"' || p[n + 1] != '"') return nullptr;
    for (std::size_t k = 0; k < n; ++k) {  // keys are short: no library call
      if (p[1 + k] != key[k]) return nullptr;
    }
    key += n;
    p = skip_whitespace(p + n + 2, input_end_);
    if (p == input_end_ || *p != ':') return nullptr;
    p = skip_whitespace(p + 1, input_end_);
    const char* const value_begin = p;
    p = canonical_scalar_end(p, input_end_);
    if (p == nullptr) return nullptr;
    layout.separators.emplace_back(separator, static_cast<std::size_t>(value_begin - separator));
    frame.members.push_back(MemberSpan{0, 0, static_cast<std::size_t>(value_begin - input_),
                                       static_cast<std::size_t>(p - value_begin), true});
  }
  const char* const separator = p;
  p = skip_whitespace(p, input_end_);
  if (p == input_end_ || *p != '}') {
    layout.separators.clear();
    return nullptr;
  }
  layout.separators.emplace_back(separator, static_cast<std::size_t>(p - separator));
  return p + 1;
}

// After an element of an array that took the quicker way: takes the
// following elements that are more of the same (`,` then an object read
// like the last) without going round the tokenizer for each.
void CanonicalFromText::read_run_like_last(Frame& frame) {
  std::string& target = dest();
  for (;;) {
    hand_over_when_full();
    const char* p = skip_whitespace(input_ + reader_.index(), input_end_);
    if (p == input_end_ || *p != ',') return;
    p = skip_whitespace(p + 1, input_end_);
    if (p == input_end_ || *p != '{') return;
    const char* const after = read_like_last(frame, p + 1);
    if (after == nullptr) return;
    target.push_back(',');
    write_object(frame, target);
    reader_.rewind(static_cast<std::size_t>(after - input_));
  }
}

}  // namespace

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

ReadResult<void> append_canonical_from_text(Reader& reader, std::string& out, const TextSink* stream) {
  CanonicalFromText writer(reader, out, stream);
  if (auto walked = json::Tokenizer(reader, writer).walk(); !walked) return walked;
  writer.finish();
  return {};
}

}  // namespace velkor
