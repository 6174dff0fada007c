// The text form of response documents: compact, members in the order they
// are written, strings escaped as in every JSON text the system writes.
#ifndef VELKOR_PROTOCOL_RESPONSE_H_
#define VELKOR_PROTOCOL_RESPONSE_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace velkor {

// Writes one JSON object member by member into `out`. Member names are the
// protocol's, written in the code: they are copied without an escape scan.
class ObjectWriter {
 public:
  explicit ObjectWriter(std::string& out) : out_(out) { out_.push_back('{'); }
  ObjectWriter& string(std::string_view key, std::string_view value);
  // A string member whose value holds nothing JSON escapes: a digest text,
  // or a name or path fixed in the code. It is copied between its quotes
  // without being scanned.
  ObjectWriter& unescaped_string(std::string_view key, std::string_view value);
  ObjectWriter& unsigned_integer(std::string_view key, std::uint64_t value);
  ObjectWriter& boolean(std::string_view key, bool value);
  // A member whose value is JSON text written elsewhere.
  ObjectWriter& raw(std::string_view key, std::string_view json);
  // Writes the member's key and returns the text, for the caller to append the
  // value in place (a nested document without a text of its own).
  std::string& member(std::string_view key) {
    this->key(key);
    return out_;
  }
  void close() { out_.push_back('}'); }

 private:
  void key(std::string_view key);
  std::string& out_;
  bool first_ = true;
};

// {"ok":false,"error":"{message}"}
std::string error_document(std::string_view message);

}  // namespace velkor

#endif  // VELKOR_PROTOCOL_RESPONSE_H_
