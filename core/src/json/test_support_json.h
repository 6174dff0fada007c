// Test support: what tests, fuzzers and benchmarks do with values and the
// compiler itself never does: compare two values, and write a value compactly
// in its own member order.
#ifndef VELKOR_JSON_TEST_SUPPORT_JSON_H_
#define VELKOR_JSON_TEST_SUPPORT_JSON_H_

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "json/compact_writer.h"
#include "json/string_escape.h"
#include "json/value.h"

namespace velkor::json {

// Structural equality: same kinds (number kinds included), same values, same
// member order. Doubles compare by bit pattern, so -0.0 differs from 0.0.
inline bool operator==(const Value& a, const Value& b) {
  if (a.kind() != b.kind()) return false;
  switch (a.kind()) {
    case Kind::kNull: return true;
    case Kind::kBool: return a.as_bool() == b.as_bool();
    case Kind::kNumber: return a.number_kind() == b.number_kind() && a.as_unsigned() == b.as_unsigned();
    case Kind::kString: return a.as_string() == b.as_string();
    case Kind::kArray: return a.as_array() == b.as_array();
    case Kind::kObject: {
      const auto& x = a.as_object().members();
      const auto& y = b.as_object().members();
      if (x.size() != y.size()) return false;
      for (std::size_t i = 0; i < x.size(); ++i) {
        if (x[i].key != y[i].key || !(x[i].value == y[i].value)) return false;
      }
      return true;
    }
  }
  return false;
}

// Appends the compact text of `value`, objects in insertion order, without
// growing the call stack whatever the depth.
inline void write_compact(std::string& out, const Value& value) {
  struct Frame {
    const Value* container;
    std::size_t next;
  };
  std::vector<Frame> open;
  const Value* pending = &value;
  for (;;) {
    if (pending != nullptr) {
      const Value& v = *pending;
      pending = nullptr;
      if (v.is_array() || v.is_object()) {
        out.push_back(v.is_array() ? '[' : '{');
        open.push_back(Frame{&v, 0});
      } else {
        append_scalar(out, v);
      }
    }
    if (open.empty()) return;
    Frame& top = open.back();
    const bool is_array = top.container->is_array();
    const std::size_t size = is_array ? top.container->as_array().size() : top.container->as_object().size();
    if (top.next == size) {
      out.push_back(is_array ? ']' : '}');
      open.pop_back();
      continue;
    }
    if (top.next > 0) out.push_back(',');
    if (is_array) {
      pending = &top.container->as_array()[top.next];
    } else {
      const Member& m = top.container->as_object().members()[top.next];
      append_json_string(out, m.key);
      out.push_back(':');
      pending = &m.value;
    }
    ++top.next;
  }
}

}  // namespace velkor::json

#endif  // VELKOR_JSON_TEST_SUPPORT_JSON_H_
