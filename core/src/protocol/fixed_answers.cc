#include "protocol/fixed_answers.h"

#include <string_view>

#include "json/string_escape.h"
#include "project/mcu_allowlist.h"
#include "protocol/response.h"
#include "request/compile_spec.h"
#include "velkor/compiler.h"

namespace velkor {

std::string version_answer() {
  // The same text for the life of the process: written once.
  static const std::string answer = [] {
    std::string out;
    ObjectWriter(out).string("version", kVersion).string("backtest_dep", kBacktestDep).close();
    return out;
  }();
  return answer;
}

namespace {

// A JSON array of the strings in `names`, in their order.
template <typename Names>
std::string string_array(const Names& names) {
  std::string out = "[";
  for (std::string_view name : names) {
    if (out.size() > 1) out.push_back(',');
    json::append_json_string(out, name);
  }
  out.push_back(']');
  return out;
}

}  // namespace

std::string targets_answer() {
  std::string out;
  ObjectWriter(out).raw("targets", string_array(kTargetKindNames)).raw("mcus", string_array(kMcuAllowlist)).close();
  return out;
}

}  // namespace velkor
