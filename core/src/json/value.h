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
// by accident. Destruction is iterative, so a value of any depth can be
// dropped without exhausting the stack.
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

class alignas(8) Value {
 public:
  Value() noexcept : kind_(Kind::kNull), tag_(0), data_{} {}
  static Value boolean(bool b);
  static Value unsigned_integer(std::uint64_t u);
  // A negative integer; a non-negative argument is stored as an unsigned integer.
  static Value signed_integer(std::int64_t i);
  static Value floating(double d);
  static Value string(std::string_view s);
  static Value array(Array items = {});
  static Value object(Object members);
  static Value object();  // an empty object

  Value(Value&& other) noexcept : kind_(other.kind_), tag_(other.tag_) {
    std::memcpy(data_, other.data_, sizeof data_);
    other.kind_ = Kind::kNull;
  }
  Value& operator=(Value&& other) noexcept {
    if (this != &other) {
      Value old(std::move(*this));
      kind_ = other.kind_;
      tag_ = other.tag_;
      std::memcpy(data_, other.data_, sizeof data_);
      other.kind_ = Kind::kNull;
    }
    return *this;
  }
  Value(const Value&) = delete;
  Value& operator=(const Value&) = delete;
  ~Value();

  Kind kind() const { return kind_; }
  bool is_null() const { return kind_ == Kind::kNull; }
  bool is_bool() const { return kind_ == Kind::kBool; }
  bool is_number() const { return kind_ == Kind::kNumber; }
  bool is_string() const { return kind_ == Kind::kString; }
  bool is_array() const { return kind_ == Kind::kArray; }
  bool is_object() const { return kind_ == Kind::kObject; }

  // Accessors; each requires the matching kind.
  bool as_bool() const { return load<bool>(); }
  NumberKind number_kind() const { return static_cast<NumberKind>(tag_); }
  std::uint64_t as_unsigned() const { return load<std::uint64_t>(); }
  std::int64_t as_signed() const { return load<std::int64_t>(); }
  double as_double() const { return load<double>(); }
  // Any number as the nearest double (integers converted).
  double to_double() const;
  std::string_view as_string() const {
    if (tag_ == kOnHeap) return *load<std::string*>();
    return {data_, tag_};
  }
  const Array& as_array() const { return *load<Array*>(); }
  Array& as_array() { return *load<Array*>(); }
  const Object& as_object() const { return *load<Object*>(); }
  Object& as_object() { return *load<Object*>(); }

 private:
  // The longest string held in place, and the tag of a string on the heap.
  static constexpr std::size_t kInPlace = 14;
  static constexpr std::uint8_t kOnHeap = 0xff;
  // Where a scalar or a payload pointer sits in `data_`: its last 8 bytes,
  // which are 8-byte aligned in the value.
  static constexpr std::size_t kScalarAt = 6;

  template <class T>
  T load() const {
    T t;
    std::memcpy(&t, data_ + kScalarAt, sizeof t);
    return t;
  }
  template <class T>
  void store(Kind kind, std::uint8_t tag, T t) {
    kind_ = kind;
    tag_ = tag;
    std::memcpy(data_ + kScalarAt, &t, sizeof t);
  }

  Kind kind_;
  // A number's NumberKind; a string's length when held in place, else kOnHeap.
  std::uint8_t tag_;
  char data_[kInPlace];
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
