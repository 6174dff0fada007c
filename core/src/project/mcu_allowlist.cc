#include "project/mcu_allowlist.h"

#include <algorithm>

#include "json/messages.h"

namespace velkor::project {

std::expected<void, CompileError> check_mcu(const Target& target) {
  if (target.kind != TargetKind::kNoStd) return {};
  if (std::ranges::find(kMcuAllowlist, std::string_view(target.mcu)) != kMcuAllowlist.end()) return {};
  return std::unexpected(bad_target("mcu " + json::debug_string(target.mcu) + " is not in the allowlist"));
}

}  // namespace velkor::project
