// The "artifact_bytes" request: the path of a file to load.
#ifndef VELKOR_REQUEST_BYTES_REQUEST_H_
#define VELKOR_REQUEST_BYTES_REQUEST_H_

#include <string>
#include <string_view>

#include "json/reader.h"

namespace velkor::request {

// Reads the `path` member beside "cmd" in the whole command text.
json::ReadResult<std::string> read_bytes_request(std::string_view text);

}  // namespace velkor::request

#endif  // VELKOR_REQUEST_BYTES_REQUEST_H_
