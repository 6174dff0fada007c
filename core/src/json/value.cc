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
  // Containers are torn down with an explicit work list: children that are
  // themselves non-empty containers are moved out before their parent is
  // freed, so no destructor call ever recurses more than one level.
  // A container of scalars allocates no list; otherwise room for a small
  // document's containers is made at once.
  std::vector<Value> pending;
  auto keep = [&pending](Value& child) {
    if (child.r_.kind != Kind::kArray && child.r_.kind != Kind::kObject) return;
    if (pending.capacity() == 0) pending.reserve(16);
    pending.push_back(std::move(child));
  };
  auto take_children = [&keep](Value& v) {
    if (v.r_.kind == Kind::kArray) {
      for (Value& child : v.as_array()) keep(child);
    } else if (v.r_.kind == Kind::kObject) {
      for (Member& m : v.as_object().members()) keep(m.value);
    }
  };
  take_children(*this);
  while (!pending.empty()) {
    Value v = std::move(pending.back());
    pending.pop_back();
    take_children(v);
    // `v` now holds only scalar or moved-from children and is freed here.
  }
  if (r_.kind == Kind::kArray) {
    delete load<Array*>();
  } else {
    delete load<Object*>();
  }
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
