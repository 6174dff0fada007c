// The JSON value every layer of the compiler works on.
//
// Six kinds. A number is exactly one of: unsigned 64-bit integer, negative
// signed 64-bit integer, finite double; the reader decides which and nothing
// later changes it. Objects keep insertion order and unique keys (the reader
// resolves a repeated key: the first position wins, the later value wins).
//
// A Value is 16 bytes: a kind tag and either a scalar or a pointer to its heap
// payload. It is move-only, so that a large document is never copied by
// accident. Destruction is iterative, so a value of any depth can be dropped
// without exhausting the stack.
#ifndef VELKOR_JSON_VALUE_H_
#define VELKOR_JSON_VALUE_H_

#include <cstddef>
#include <cstdint>
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
  Value() noexcept : kind_(Kind::kNull), number_kind_(NumberKind::kUnsigned), u_(0) {}
  static Value boolean(bool b);
  static Value unsigned_integer(std::uint64_t u);
  // A negative integer; a non-negative argument is stored as an unsigned integer.
  static Value signed_integer(std::int64_t i);
  static Value floating(double d);
  static Value string(std::string&& s);  // by reference: moving a short string copies its bytes
  static Value array(Array items = {});
  static Value object(Object members);
  static Value object();  // an empty object

  Value(Value&& other) noexcept : kind_(other.kind_), number_kind_(other.number_kind_), u_(other.u_) {
    other.kind_ = Kind::kNull;
    other.u_ = 0;
  }
  Value& operator=(Value&& other) noexcept {
    if (this != &other) {
      Value old(std::move(*this));
      kind_ = other.kind_;
      number_kind_ = other.number_kind_;
      u_ = other.u_;
      other.kind_ = Kind::kNull;
      other.u_ = 0;
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
  bool as_bool() const { return b_; }
  NumberKind number_kind() const { return number_kind_; }
  std::uint64_t as_unsigned() const { return u_; }
  std::int64_t as_signed() const { return i_; }
  double as_double() const { return d_; }
  // Any number as the nearest double (integers converted).
  double to_double() const;
  const std::string& as_string() const { return *s_; }
  std::string& as_string() { return *s_; }
  const Array& as_array() const { return *a_; }
  Array& as_array() { return *a_; }
  const Object& as_object() const { return *o_; }
  Object& as_object() { return *o_; }

 private:
  Kind kind_;
  NumberKind number_kind_;
  union {
    bool b_;
    std::uint64_t u_;
    std::int64_t i_;
    double d_;
    std::string* s_;
    Array* a_;
    Object* o_;
  };
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
