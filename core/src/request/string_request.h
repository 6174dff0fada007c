// Requests whose one member beside "cmd" is a required string: "artifact_bytes"
// (`path`, record BytesReq) and "lint" (`text`, record LintReq).
#ifndef VELKOR_REQUEST_STRING_REQUEST_H_
#define VELKOR_REQUEST_STRING_REQUEST_H_

#include <string>
#include <string_view>

#include "json/reader.h"

namespace velkor::request {

// Reads the string member `member` of the record `record` from the whole
// command text; other members are skipped, as in every request.
json::ReadResult<std::string> read_string_request(std::string_view text, std::string_view record,
                                                  std::string_view member);

}  // namespace velkor::request

#endif  // VELKOR_REQUEST_STRING_REQUEST_H_
