#include "project/crate_name.h"

#include <algorithm>

#include "json/messages.h"

namespace velkor::project {
namespace {

bool is_lower(char c) { return c >= 'a' && c <= 'z'; }
bool is_upper(char c) { return c >= 'A' && c <= 'Z'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// One output character per character of `symbol`. The text is UTF-8 (it came
// from a JSON string), so a character starts at every byte that is not a
// continuation byte; a multi-byte character yields a single "_".
std::string derive_from_symbol(std::string_view symbol) {
  std::string name;
  name.reserve(symbol.size());
  for (char c : symbol) {
    if ((static_cast<unsigned char>(c) & 0xC0) == 0x80) continue;
    if (is_upper(c)) {
      name += static_cast<char>(c - 'A' + 'a');
    } else if (is_lower(c) || is_digit(c)) {
      name += c;
    } else {
      name += '_';
    }
  }
  return name;
}

bool is_valid_crate_name(std::string_view name) {
  if (name.empty() || !is_lower(name.front())) return false;
  return std::all_of(name.begin() + 1, name.end(), [](char c) { return is_lower(c) || is_digit(c) || c == '_'; });
}

}  // namespace

std::expected<std::string, CompileError> resolve_crate_name(const CompileSpec& spec) {
  std::string candidate;
  if (spec.crate_name) {
    candidate = *spec.crate_name;
  } else {
    const json::Value* symbol = spec.strategy.is_object() ? spec.strategy.as_object().find("symbol") : nullptr;
    if (symbol == nullptr || !symbol->is_string()) {
      return std::unexpected(bad_spec("no crate_name and the strategy has no string `symbol` to derive one"));
    }
    candidate = derive_from_symbol(symbol->as_string());
  }
  if (!is_valid_crate_name(candidate)) {
    return std::unexpected(bad_spec("crate name " + json::debug_string(candidate) +
                                    " is not a valid identifier (^[a-z][a-z0-9_]*$); set `crate_name`"));
  }
  return candidate;
}

}  // namespace velkor::project
