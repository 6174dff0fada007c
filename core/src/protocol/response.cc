#include "protocol/response.h"

#include <cstring>

#include "json/number_text.h"
#include "json/string_escape.h"

namespace velkor {

void ObjectWriter::key(std::string_view key) {
  // Member names are fixed in the code and need no escape: the separator,
  // the quoted name and the colon go in with one size change.
  const std::size_t old_size = out_.size();
  const std::size_t new_size = old_size + (first_ ? 0 : 1) + key.size() + 3;
  out_.resize_and_overwrite(new_size, [&](char* buf, std::size_t) {
    char* p = buf + old_size;
    if (!first_) *p++ = ',';
    *p++ = '"';
    std::memcpy(p, key.data(), key.size());
    p += key.size();
    *p++ = '"';
    *p = ':';
    return new_size;
  });
  first_ = false;
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
