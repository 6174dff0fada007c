#include "json/compact_writer.h"

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

}  // namespace velkor::json
