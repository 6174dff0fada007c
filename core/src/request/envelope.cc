#include "request/envelope.h"

#include "json/reader.h"

namespace velkor::request {

std::optional<std::string> read_envelope(std::string_view text) {
  // Members other than "cmd" are skipped without a nesting limit: the command's
  // own request reader applies the limit to what it reads.
  json::Reader reader(text, json::Reader::Depth::kUnlimited);
  std::optional<std::string> cmd;
  const int c = reader.peek_after_whitespace();
  if (c == '{') {
    reader.eat();
    bool first = true;
    std::string key;
    for (;;) {
      auto more = reader.next_key(first, key);
      if (!more) return std::nullopt;
      if (!*more) break;
      if (key == "cmd" && cmd) return std::nullopt;
      if (!reader.parse_colon()) return std::nullopt;
      if (key != "cmd") {
        if (!reader.skip_value()) return std::nullopt;
        continue;
      }
      auto value = reader.read_string();
      if (!value) return std::nullopt;
      cmd = std::move(*value);
    }
    if (!reader.end_object()) return std::nullopt;
  } else if (c == '[') {
    reader.eat();
    bool first = true;
    auto more = reader.next_element(first);
    if (!more || !*more) return std::nullopt;
    auto value = reader.read_string();
    if (!value) return std::nullopt;
    cmd = std::move(*value);
    if (!reader.end_array()) return std::nullopt;
  } else {
    return std::nullopt;
  }
  if (!cmd || !reader.end_of_text()) return std::nullopt;
  return cmd;
}

bool leads_with_cmd(std::string_view text, std::string_view name) {
  json::Reader reader(text, json::Reader::Depth::kUnlimited);
  if (reader.peek_after_whitespace() != '{') return false;
  reader.eat();
  bool first = true;
  std::string key;
  auto more = reader.next_key(first, key);
  if (!more || !*more || key != "cmd" || !reader.parse_colon()) return false;
  auto value = reader.read_string();
  return value && *value == name;
}

}  // namespace velkor::request
