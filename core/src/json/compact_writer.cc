#include "json/compact_writer.h"

#include <cstddef>
#include <vector>

#include "json/number_text.h"
#include "json/string_escape.h"

namespace velkor::json {

void append_scalar(std::string& out, const Value& value) {
  switch (value.kind()) {
    case Kind::kNull:
      out.append("null");
      return;
    case Kind::kBool:
      out.append(value.as_bool() ? "true" : "false");
      return;
    case Kind::kNumber:
      switch (value.number_kind()) {
        case NumberKind::kUnsigned:
          append_unsigned(out, value.as_unsigned());
          return;
        case NumberKind::kNegative:
          append_signed(out, value.as_signed());
          return;
        case NumberKind::kDouble:
          append_double(out, value.as_double(), ExponentSign::kWritePlus);
          return;
      }
      return;
    case Kind::kString:
      append_json_string(out, value.as_string());
      return;
    case Kind::kArray:
    case Kind::kObject:
      return;
  }
}

void write_compact(std::string& out, const Value& value) {
  // One frame per open container: the container and the index of its next child.
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
      if (v.is_array()) {
        out.push_back('[');
        open.push_back(Frame{&v, 0});
      } else if (v.is_object()) {
        out.push_back('{');
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
