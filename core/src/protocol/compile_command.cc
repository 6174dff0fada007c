#include "protocol/compile_command.h"

#include "protocol/response.h"
#include "request/compile_request.h"

namespace velkor {

std::string compile_command(CompilerState&, std::string_view text) {
  auto request = request::read_compile_request(text);
  if (!request) return error_document("bad compile request: " + request.error().text());
  // Project generation is wired in once its pieces land; until then, say so
  // rather than pretend.
  return error_document("codegen: compile is not supported yet");
}

}  // namespace velkor
