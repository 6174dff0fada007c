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

Value Value::boolean(bool b) {
  Value v;
  v.kind_ = Kind::kBool;
  v.u_ = 0;
  v.b_ = b;
  return v;
}

Value Value::unsigned_integer(std::uint64_t u) {
  Value v;
  v.kind_ = Kind::kNumber;
  v.number_kind_ = NumberKind::kUnsigned;
  v.u_ = u;
  return v;
}

Value Value::signed_integer(std::int64_t i) {
  if (i >= 0) return unsigned_integer(static_cast<std::uint64_t>(i));
  Value v;
  v.kind_ = Kind::kNumber;
  v.number_kind_ = NumberKind::kNegative;
  v.i_ = i;
  return v;
}

Value Value::floating(double d) {
  Value v;
  v.kind_ = Kind::kNumber;
  v.number_kind_ = NumberKind::kDouble;
  v.d_ = d;
  return v;
}

Value Value::string(std::string&& s) {
  Value v;
  v.s_ = new std::string(std::move(s));
  v.kind_ = Kind::kString;
  return v;
}

Value Value::array(Array items) {
  Value v;
  v.a_ = new Array(std::move(items));
  v.kind_ = Kind::kArray;
  return v;
}

Value Value::object(Object members) {
  Value v;
  v.o_ = new Object(std::move(members));
  v.kind_ = Kind::kObject;
  return v;
}

Value::~Value() {
  switch (kind_) {
    case Kind::kString:
      delete s_;
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
    if (child.kind_ != Kind::kArray && child.kind_ != Kind::kObject) return;
    if (pending.capacity() == 0) pending.reserve(16);
    pending.push_back(std::move(child));
  };
  auto take_children = [&keep](Value& v) {
    if (v.kind_ == Kind::kArray) {
      for (Value& child : *v.a_) keep(child);
    } else if (v.kind_ == Kind::kObject) {
      for (Member& m : v.o_->members()) keep(m.value);
    }
  };
  take_children(*this);
  while (!pending.empty()) {
    Value v = std::move(pending.back());
    pending.pop_back();
    take_children(v);
    // `v` now holds only scalar or moved-from children and is freed here.
  }
  if (kind_ == Kind::kArray) {
    delete a_;
  } else {
    delete o_;
  }
}

double Value::to_double() const {
  switch (number_kind_) {
    case NumberKind::kUnsigned:
      return static_cast<double>(u_);
    case NumberKind::kNegative:
      return static_cast<double>(i_);
    case NumberKind::kDouble:
      return d_;
  }
  return d_;
}

}  // namespace velkor::json
