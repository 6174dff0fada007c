#include "velkor/compiler.h"

#include "protocol/artifact_cache.h"
#include "protocol/canonical_command.h"
#include "protocol/compile_command.h"
#include "protocol/destination_command.h"
#include "protocol/fixed_answers.h"
#include "protocol/lint_command.h"
#include "protocol/response.h"
#include "request/envelope.h"

namespace velkor {

std::string dispatch_command(CompilerState& state, std::string_view cmd_json, const CommandHooks& hooks) {
  // A compile request normally starts with its "cmd". Reading the request
  // checks all of the text as strictly as the envelope does (and a repeated
  // "cmd" through the extra field), so when that reading succeeds the envelope
  // is known to be sound and a large request is read once instead of twice.
  // Any fault falls back to the full order below, so that an envelope fault
  // still wins over a request fault.
  if (request::leads_with_cmd(cmd_json, "compile")) {
    project::StreamedCandles candles;
    auto request = request::read_compile_request(cmd_json, request::CmdMember::kField, &candles);
    if (request) return run_compile(state, *request, &candles, hooks);
  }
  const std::optional<std::string> cmd = request::read_envelope(cmd_json);
  if (!cmd) return error_document(R"(invalid command envelope: expected {"cmd":...})");
  if (*cmd == "version") return version_answer();
  if (*cmd == "targets") return targets_answer();
  if (*cmd == "reset") return reset_command(state);
  if (*cmd == "artifact_bytes") return load_artifact_command(state, cmd_json);
  if (*cmd == "compile") return compile_command(state, cmd_json, hooks);
  if (*cmd == "lint") return lint_command(cmd_json);
  if (*cmd == "destination") return destination_command(cmd_json);
  if (*cmd == "canonical") return canonical_command(cmd_json);
  return error_document("unknown cmd: " + *cmd);
}

}  // namespace velkor
