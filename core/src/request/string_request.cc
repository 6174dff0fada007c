#include "request/string_request.h"

#include "request/record.h"

namespace velkor::request {

json::ReadResult<std::string> read_string_request(std::string_view text, std::string_view record,
                                                  std::string_view member) {
  json::Reader reader(text);
  std::string value;
  const TextField fields[] = {
      {member, true,
       [&](json::Reader& r) -> json::ReadResult<void> {
         auto s = r.read_string();
         if (!s) return std::unexpected(s.error());
         value = std::move(*s);
         return {};
       }},
  };
  if (auto read = read_text_record(reader, record, fields); !read) return std::unexpected(read.error());
  if (auto end = reader.end_of_text(); !end) return std::unexpected(end.error());
  return value;
}

}  // namespace velkor::request
