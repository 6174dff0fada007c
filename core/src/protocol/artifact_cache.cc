#include "protocol/artifact_cache.h"

#include <vector>

#include "digest/sha256.h"
#include "protocol/response.h"
#include "request/string_request.h"
#include "support/whole_file.h"

namespace velkor {
std::string load_artifact_command(CompilerState& state, std::string_view text) {
  auto path = request::read_string_request(text, "BytesReq", "path");
  if (!path) return error_document("bad artifact_bytes request: " + path.error().text());
  auto bytes = read_whole_file<std::vector<std::uint8_t>>(*path);
  if (!bytes) return error_document("reading " + *path + ": " + bytes.error());

  const std::uint64_t handle = state.next_handle;
  const std::size_t len = bytes->size();
  const auto digest = digest::sha256_hex(
      std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
  if (!digest) return error_document("computing SHA-256 of " + *path + ": " + digest.error());
  std::string answer;
  ObjectWriter(answer).unsigned_integer("handle", handle).unsigned_integer("len", len).string("sha256", *digest).close();
  // Everything that can fail is done; only now does the state change.
  state.artifact_cache.insert_or_assign(handle, std::move(*bytes));
  state.next_handle = handle + 1;
  return answer;
}

std::string reset_command(CompilerState& state) {
  state.last_artifact.reset();
  state.artifact_cache.clear();
  state.next_handle = 0;
  return R"({"ok":true})";
}

}  // namespace velkor
