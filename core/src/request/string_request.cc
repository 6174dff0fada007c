#include "request/string_request.h"

#include "json/messages.h"
#include "request/compile_request.h"
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

json::ReadResult<LintReq> read_lint_request(std::string_view text) {
  json::Reader reader(text);
  LintReq request;
  const TextField fields[] = {
      {"text", true,
       [&](json::Reader& r) -> json::ReadResult<void> {
         auto s = r.read_string();
         if (!s) return std::unexpected(s.error());
         request.text = std::move(*s);
         return {};
       }},
      {"max_problems", false,
       [&](json::Reader& r) -> json::ReadResult<void> {
         auto v = r.read_value();
         if (!v) return std::unexpected(v.error());
         if (!v->is_number() || v->number_kind() != json::NumberKind::kUnsigned) {
           return r.error(json::invalid_type(json::unexpected_value(*v), "u64"));
         }
         request.max_problems = v->as_unsigned();
         return {};
       }},
      {"embed_data", false,
       [&](json::Reader& r) -> json::ReadResult<void> {
         if (r.peek_after_whitespace() == 'n') {
           r.eat();
           request.embed_data.reset();
           return r.parse_ident("ull");
         }
         auto data = read_dataset(r);
         if (!data) return std::unexpected(data.error());
         request.embed_data = std::move(*data);
         return {};
       }},
      {"base_dir", false,
       [&](json::Reader& r) -> json::ReadResult<void> {
         auto s = r.read_string();
         if (!s) return std::unexpected(s.error());
         request.base_dir = std::move(*s);
         return {};
       }},
  };
  if (auto read = read_text_record(reader, "LintReq", fields); !read) return std::unexpected(read.error());
  if (auto end = reader.end_of_text(); !end) return std::unexpected(end.error());
  return request;
}

}  // namespace velkor::request
