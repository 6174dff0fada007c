#include "request/lint_request.h"

#include "request/record.h"

namespace velkor::request {

json::ReadResult<std::string> read_lint_request(std::string_view text) {
  json::Reader reader(text);
  std::string document;
  const TextField fields[] = {
      {"text", true,
       [&](json::Reader& r) -> json::ReadResult<void> {
         auto s = r.read_string();
         if (!s) return std::unexpected(s.error());
         document = std::move(*s);
         return {};
       }},
  };
  if (auto read = read_text_record(reader, "LintReq", fields); !read) return std::unexpected(read.error());
  if (auto end = reader.end_of_text(); !end) return std::unexpected(end.error());
  return document;
}

}  // namespace velkor::request
