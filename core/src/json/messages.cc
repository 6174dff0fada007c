#include "json/messages.h"

#include "json/number_text.h"

namespace velkor::json {

void append_debug_string(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out.push_back('"');
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    switch (c) {
      case '"': out.append("\\\""); continue;
      case '\\': out.append("\\\\"); continue;
      case '\n': out.append("\\n"); continue;
      case '\r': out.append("\\r"); continue;
      case '\t': out.append("\\t"); continue;
      case '\0': out.append("\\0"); continue;
      default: break;
    }
    unsigned code = 0;
    bool control = false;
    if (c < 0x20 || c == 0x7f) {
      control = true;
      code = c;
    } else if (c == 0xc2 && i + 1 < text.size()) {
      // U+0080..U+009F are encoded as C2 80..C2 9F.
      const unsigned char next = static_cast<unsigned char>(text[i + 1]);
      if (next >= 0x80 && next <= 0x9f) {
        control = true;
        code = next;
        ++i;
      }
    }
    if (!control) {
      out.push_back(static_cast<char>(c));
      continue;
    }
    out.append("\\u{");
    if (code >= 0x10) out.push_back(kHex[code >> 4]);
    out.push_back(kHex[code & 0xf]);
    out.push_back('}');
  }
  out.push_back('"');
}

std::string debug_string(std::string_view text) {
  std::string out;
  append_debug_string(out, text);
  return out;
}

std::string unexpected_string(std::string_view s) {
  std::string out = "string ";
  append_debug_string(out, s);
  return out;
}

std::string unexpected_unsigned(std::uint64_t u) {
  std::string out = "integer `";
  append_unsigned(out, u);
  out.push_back('`');
  return out;
}

std::string unexpected_signed(std::int64_t i) {
  std::string out = "integer `";
  append_signed(out, i);
  out.push_back('`');
  return out;
}

std::string unexpected_double(double d) {
  std::string out = "floating point `";
  append_double(out, d, ExponentSign::kOmitPlus);
  out.push_back('`');
  return out;
}

std::string unexpected_bool(bool b) { return b ? "boolean `true`" : "boolean `false`"; }

std::string unexpected_value(const Value& v) {
  switch (v.kind()) {
    case Kind::kNull: return std::string(kUnexpectedNull);
    case Kind::kBool: return unexpected_bool(v.as_bool());
    case Kind::kNumber:
      switch (v.number_kind()) {
        case NumberKind::kUnsigned: return unexpected_unsigned(v.as_unsigned());
        case NumberKind::kNegative: return unexpected_signed(v.as_signed());
        case NumberKind::kDouble: return unexpected_double(v.as_double());
      }
      break;
    case Kind::kString: return unexpected_string(v.as_string());
    case Kind::kArray: return std::string(kUnexpectedSequence);
    case Kind::kObject: return std::string(kUnexpectedMap);
  }
  return {};
}

std::string invalid_type(std::string_view unexpected, std::string_view expected) {
  std::string out = "invalid type: ";
  out += unexpected;
  out += ", expected ";
  out += expected;
  return out;
}

std::string invalid_value(std::string_view unexpected, std::string_view expected) {
  std::string out = "invalid value: ";
  out += unexpected;
  out += ", expected ";
  out += expected;
  return out;
}

std::string element_count(std::size_t n) {
  std::string out = std::to_string(n);
  out += n == 1 ? " element" : " elements";
  return out;
}

std::string invalid_length(std::uint64_t n, std::string_view expected) {
  std::string out = "invalid length ";
  append_unsigned(out, n);
  out += ", expected ";
  out += expected;
  return out;
}

std::string missing_field(std::string_view name) {
  std::string out = "missing field `";
  out += name;
  out.push_back('`');
  return out;
}

std::string duplicate_field(std::string_view name) {
  std::string out = "duplicate field `";
  out += name;
  out.push_back('`');
  return out;
}

std::string alternatives(std::span<const std::string_view> names) {
  std::string out;
  if (names.size() == 1) {
    out.push_back('`');
    out += names[0];
    out.push_back('`');
  } else if (names.size() == 2) {
    out.push_back('`');
    out += names[0];
    out += "` or `";
    out += names[1];
    out.push_back('`');
  } else if (names.empty()) {
    out = "there are no variants";
  } else {
    out = "one of ";
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (i > 0) out += ", ";
      out.push_back('`');
      out += names[i];
      out.push_back('`');
    }
  }
  return out;
}

std::string unknown_variant(std::string_view name, std::span<const std::string_view> names) {
  std::string out = "unknown variant `";
  out += name;
  out += "`, expected ";
  out += alternatives(names);
  return out;
}

}  // namespace velkor::json
