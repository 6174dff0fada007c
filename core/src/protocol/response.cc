#include "protocol/response.h"

#include "json/number_text.h"
#include "json/string_escape.h"

namespace velkor {

void ObjectWriter::key(std::string_view key) {
  // Member names are fixed in the code and need no escape.
  if (!first_) out_.push_back(',');
  first_ = false;
  json::append_quoted(out_, key, ":");
}

ObjectWriter& ObjectWriter::string(std::string_view key, std::string_view value) {
  this->key(key);
  json::append_json_string(out_, value);
  return *this;
}

ObjectWriter& ObjectWriter::unescaped_string(std::string_view key, std::string_view value) {
  this->key(key);
  json::append_quoted(out_, value);
  return *this;
}

ObjectWriter& ObjectWriter::unsigned_integer(std::string_view key, std::uint64_t value) {
  this->key(key);
  json::append_unsigned(out_, value);
  return *this;
}

ObjectWriter& ObjectWriter::boolean(std::string_view key, bool value) {
  this->key(key);
  out_.append(value ? "true" : "false");
  return *this;
}

ObjectWriter& ObjectWriter::raw(std::string_view key, std::string_view json) {
  this->key(key);
  out_.append(json);
  return *this;
}

std::string error_document(std::string_view message) {
  std::string out;
  out.reserve(message.size() + 24);
  ObjectWriter(out).boolean("ok", false).string("error", message).close();
  return out;
}

}  // namespace velkor
