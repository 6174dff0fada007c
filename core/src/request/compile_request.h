// The "compile" request: compile options plus where (and whether) to build.
#ifndef VELKOR_REQUEST_COMPILE_REQUEST_H_
#define VELKOR_REQUEST_COMPILE_REQUEST_H_

#include <optional>
#include <string>
#include <string_view>

#include "json/reader.h"
#include "project/compile_spec.h"

namespace velkor::request {

inline constexpr std::string_view kDefaultOutDir = "_out";

struct CompileRequest {
  CompileSpec spec;
  bool dry_run = false;
  std::optional<std::string> out_dir;  // absent or null: kDefaultOutDir
};

// Reads the request members beside "cmd" in the whole command text.
json::ReadResult<CompileRequest> read_compile_request(std::string_view text);

}  // namespace velkor::request

#endif  // VELKOR_REQUEST_COMPILE_REQUEST_H_
