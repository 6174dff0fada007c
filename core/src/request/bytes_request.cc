#include "request/bytes_request.h"

#include "request/record.h"

namespace velkor::request {

json::ReadResult<std::string> read_bytes_request(std::string_view text) {
  json::Reader reader(text);
  std::string path;
  const TextField fields[] = {
      {"path", true,
       [&](json::Reader& r) -> json::ReadResult<void> {
         auto s = r.read_string();
         if (!s) return std::unexpected(s.error());
         path = std::move(*s);
         return {};
       }},
  };
  if (auto read = read_text_record(reader, "BytesReq", fields); !read) return std::unexpected(read.error());
  if (auto end = reader.end_of_text(); !end) return std::unexpected(end.error());
  return path;
}

}  // namespace velkor::request
