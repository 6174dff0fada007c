// The "lint" request: the text of a strategy document to check.
#ifndef VELKOR_REQUEST_LINT_REQUEST_H_
#define VELKOR_REQUEST_LINT_REQUEST_H_

#include <string>
#include <string_view>

#include "json/reader.h"

namespace velkor::request {

// Reads the `text` member beside "cmd" in the whole command text.
json::ReadResult<std::string> read_lint_request(std::string_view text);

}  // namespace velkor::request

#endif  // VELKOR_REQUEST_LINT_REQUEST_H_
