// Requests whose one required member beside "cmd" is a string: "artifact_bytes"
// (`path`, record BytesReq) and "lint" (`text`, record LintReq, with an
// optional `max_problems`).
#ifndef VELKOR_REQUEST_STRING_REQUEST_H_
#define VELKOR_REQUEST_STRING_REQUEST_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "json/reader.h"

namespace velkor::request {

// Reads the string member `member` of the record `record` from the whole
// command text; other members are skipped, as in every request.
json::ReadResult<std::string> read_string_request(std::string_view text, std::string_view record,
                                                  std::string_view member);

struct LintReq {
  std::string text;
  std::optional<std::uint64_t> max_problems;  // a non-negative integer when given
};

json::ReadResult<LintReq> read_lint_request(std::string_view text);

}  // namespace velkor::request

#endif  // VELKOR_REQUEST_STRING_REQUEST_H_
