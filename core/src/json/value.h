// The JSON value every layer of the compiler works on.
//
// Six kinds. A number is exactly one of: unsigned 64-bit integer, negative
// signed 64-bit integer, finite double; the reader decides which and nothing
// later changes it. Objects keep insertion order and unique keys (the reader
// resolves a repeated key: the first position wins, the later value wins).
//
// A Value is 16 bytes: a kind, a one-byte tag and either a scalar, a pointer to
// its heap payload, or a string of up to 14 bytes held in place (most keys'
// values in a strategy are such names, and holding them in place spares an
// allocation each). It is move-only, so that a large document is never copied
// by accident. Destruction recurses only a bounded depth and frees deeper
// containers from a work list, so a value of any depth can be dropped without
// exhausting the stack.
#ifndef VELKOR_JSON_VALUE_H_
#define VELKOR_JSON_VALUE_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velkor::json {

enum class Kind : std::uint8_t { kNull, kBool, kNumber, kString, kArray, kObject };

// Which of the three number kinds a number holds.
enum class NumberKind : std::uint8_t { kUnsigned, kNegative, kDouble };

class Value;
struct Member;
using Array = std::vector<Value>;

// An insertion-ordered map with unique string keys.
class Object {
 public:
  Object() = default;
  Object(Object&&) noexcept = default;
  Object& operator=(Object&&) noexcept = default;
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;
  ~Object() = default;

  // Appends without looking for an existing key; the caller guarantees uniqueness.
  void append_unique(std::string key, Value value);

  const Value* find(std::string_view key) const;
  Value* find(std::string_view key);

  // Defined below Member: clang instantiates std::vector's (constexpr) members
  // where they are used, which needs Member complete.
  std::size_t size() const;
  bool empty() const;
  void reserve(std::size_t n);
  const std::vector<Member>& members() const { return members_; }
  std::vector<Member>& members() { return members_; }
  std::vector<Member>::const_iterator begin() const;
  std::vector<Member>::const_iterator end() const;

 private:
  std::vector<Member> members_;
};

class Value {
 public:
  Value() noexcept : r_{} {}
  static Value boolean(bool b);
  static Value unsigned_integer(std::uint64_t u);
  // A negative integer; a non-negative argument is stored as an unsigned integer.
  static Value signed_integer(std::int64_t i);
  static Value floating(double d);
  static Value string(std::string_view s);
  static Value array(Array items = {});
  static Value object(Object members);
  static Value object();  // an empty object

  Value(Value&& other) noexcept : r_(other.r_) { other.r_.kind = Kind::kNull; }
  Value& operator=(Value&& other) noexcept {
    if (this != &other) {
      Value old(std::move(*this));
      r_ = other.r_;
      other.r_.kind = Kind::kNull;
    }
    return *this;
  }
  Value(const Value&) = delete;
  Value& operator=(const Value&) = delete;
  ~Value();

  Kind kind() const { return r_.kind; }
  bool is_null() const { return r_.kind == Kind::kNull; }
  bool is_bool() const { return r_.kind == Kind::kBool; }
  bool is_number() const { return r_.kind == Kind::kNumber; }
  bool is_string() const { return r_.kind == Kind::kString; }
  bool is_array() const { return r_.kind == Kind::kArray; }
  bool is_object() const { return r_.kind == Kind::kObject; }

  // Accessors; each requires the matching kind.
  bool as_bool() const { return load<bool>(); }
  NumberKind number_kind() const { return static_cast<NumberKind>(r_.tag); }
  std::uint64_t as_unsigned() const { return load<std::uint64_t>(); }
  std::int64_t as_signed() const { return load<std::int64_t>(); }
  double as_double() const { return load<double>(); }
  // Any number as the nearest double (integers converted).
  double to_double() const;
  // A short string is viewed inside the value itself: like the text of a short
  // std::string, the view lasts only while the value is neither moved nor
  // dropped.
  std::string_view as_string() const {
    if (r_.tag == kOnHeap) return *load<std::string*>();
    return {r_.data, r_.tag};
  }
  const Array& as_array() const { return *load<Array*>(); }
  Array& as_array() { return *load<Array*>(); }
  const Object& as_object() const { return *load<Object*>(); }
  Object& as_object() { return *load<Object*>(); }

 private:
  // The longest string held in place, and the tag of a string on the heap.
  static constexpr std::size_t kInPlace = 14;
  static constexpr std::uint8_t kOnHeap = 0xff;
  // How many levels below the value being dropped are freed by recursion
  // (a few kilobytes of stack) before deeper containers go to a work list.
  static constexpr int kFreeDepth = 64;

  // Frees container `v`'s payload and everything in it, leaving `v` null;
  // containers more than kFreeDepth levels down are moved onto `deeper`.
  static void free_container(Value& v, int depth, std::vector<Value>& deeper);

  template <class T>
  T load() const {
    T t;
    std::memcpy(&t, r_.data, sizeof t);
    return t;
  }
  template <class T>
  void store(Kind kind, std::uint8_t tag, T t) {
    r_.kind = kind;
    r_.tag = tag;
    std::memcpy(r_.data, &t, sizeof t);
  }

  // Plain bytes, copied whole when a value moves: a scalar or a payload
  // pointer in the first 8 (aligned), or a short string in the first 14.
  struct Representation {
    char data[kInPlace];
    // A number's NumberKind; a string's length when held in place, else kOnHeap.
    std::uint8_t tag;
    Kind kind;
  };
  alignas(8) Representation r_;
};

struct Member {
  std::string key;
  Value value;
};

inline Value Value::object() { return object(Object()); }
inline std::size_t Object::size() const { return members_.size(); }
inline bool Object::empty() const { return members_.empty(); }
inline void Object::reserve(std::size_t n) { members_.reserve(n); }
inline std::vector<Member>::const_iterator Object::begin() const { return members_.begin(); }
inline std::vector<Member>::const_iterator Object::end() const { return members_.end(); }

}  // namespace velkor::json

#endif  // VELKOR_JSON_VALUE_H_
