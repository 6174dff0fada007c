#include "json/value.h"

#include <cstring>

namespace velkor::json {

void Object::append_unique(std::string key, Value value) {
  members_.emplace_back(std::move(key), std::move(value));
}

const Value* Object::find(std::string_view key) const {
  for (const Member& m : members_) {
    if (m.key == key) return &m.value;
  }
  return nullptr;
}

Value* Object::find(std::string_view key) {
  for (Member& m : members_) {
    if (m.key == key) return &m.value;
  }
  return nullptr;
}

static_assert(sizeof(Value) == 16, "a Value is a kind, a tag and 14 bytes");

Value Value::boolean(bool b) {
  Value v;
  v.store(Kind::kBool, 0, b);
  return v;
}

Value Value::unsigned_integer(std::uint64_t u) {
  Value v;
  v.store(Kind::kNumber, static_cast<std::uint8_t>(NumberKind::kUnsigned), u);
  return v;
}

Value Value::signed_integer(std::int64_t i) {
  if (i >= 0) return unsigned_integer(static_cast<std::uint64_t>(i));
  Value v;
  v.store(Kind::kNumber, static_cast<std::uint8_t>(NumberKind::kNegative), i);
  return v;
}

Value Value::floating(double d) {
  Value v;
  v.store(Kind::kNumber, static_cast<std::uint8_t>(NumberKind::kDouble), d);
  return v;
}

Value Value::string(std::string_view s) {
  Value v;
  if (s.size() <= kInPlace) {
    v.r_.kind = Kind::kString;
    v.r_.tag = static_cast<std::uint8_t>(s.size());
    if (!s.empty()) std::memcpy(v.r_.data, s.data(), s.size());
    return v;
  }
  v.store(Kind::kString, kOnHeap, new std::string(s));
  return v;
}

Value Value::array(Array items) {
  Value v;
  v.store(Kind::kArray, 0, new Array(std::move(items)));
  return v;
}

Value Value::object(Object members) {
  Value v;
  v.store(Kind::kObject, 0, new Object(std::move(members)));
  return v;
}

Value::~Value() {
  switch (r_.kind) {
    case Kind::kString:
      if (r_.tag == kOnHeap) delete load<std::string*>();
      return;
    case Kind::kArray:
    case Kind::kObject:
      break;
    default:
      return;
  }
  // Nesting up to kFreeDepth levels below a container is freed by recursion,
  // which needs no list and moves nothing; containers deeper than that are
  // moved onto `deeper` and freed from this loop, so a value of any depth is
  // dropped on a bounded stack.
  std::vector<Value> deeper;
  free_container(*this, 0, deeper);
  while (!deeper.empty()) {
    Value v = std::move(deeper.back());
    deeper.pop_back();
    free_container(v, 0, deeper);
  }
}

void Value::free_container(Value& v, int depth, std::vector<Value>& deeper) {
  auto free_child = [depth, &deeper](Value& child) {
    if (child.r_.kind != Kind::kArray && child.r_.kind != Kind::kObject) return;
    if (depth < kFreeDepth) {
      free_container(child, depth + 1, deeper);
    } else {
      deeper.push_back(std::move(child));
    }
  };
  // What the payload's own destructor then meets is scalars, strings and
  // nulls left by freed containers.
  if (v.r_.kind == Kind::kArray) {
    for (Value& child : v.as_array()) free_child(child);
    delete v.load<Array*>();
  } else {
    for (Member& m : v.as_object().members()) free_child(m.value);
    delete v.load<Object*>();
  }
  v.r_.kind = Kind::kNull;
}

double Value::to_double() const {
  switch (number_kind()) {
    case NumberKind::kUnsigned:
      return static_cast<double>(as_unsigned());
    case NumberKind::kNegative:
      return static_cast<double>(as_signed());
    case NumberKind::kDouble:
      return as_double();
  }
  return as_double();
}

}  // namespace velkor::json
