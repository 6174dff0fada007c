// Requests whose one required member beside "cmd" is a string: "artifact_bytes"
// (`path`, record BytesReq) and "lint" (`text`, record LintReq, with the
// optional `max_problems`, `embed_data` and `base_dir`).
#ifndef VELKOR_REQUEST_STRING_REQUEST_H_
#define VELKOR_REQUEST_STRING_REQUEST_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "request/compile_spec.h"
#include "json/reader.h"

namespace velkor::request {

// Reads the string member `member` of the record `record` from the whole
// command text; other members are skipped, as in every request.
json::ReadResult<std::string> read_string_request(std::string_view text, std::string_view record,
                                                  std::string_view member);

struct LintReq {
  std::string text;
  std::optional<std::uint64_t> max_problems;  // a non-negative integer when given
  // The market data a compile would embed, read as a compile request's
  // "embed_data" (null: none), and the folder a relative CSV path is resolved
  // against ("" or absent: the working directory, as the compile does).
  std::optional<DatasetRef> embed_data;
  std::string base_dir;
};

json::ReadResult<LintReq> read_lint_request(std::string_view text);

}  // namespace velkor::request

#endif  // VELKOR_REQUEST_STRING_REQUEST_H_
