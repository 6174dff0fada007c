#include "protocol/fixed_answers.h"

#include "json/string_escape.h"
#include "protocol/response.h"
#include "project/mcu_allowlist.h"
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

std::string targets_answer() {
  std::string mcus = "[";
  for (std::string_view mcu : kMcuAllowlist) {
    if (mcus.size() > 1) mcus.push_back(',');
    json::append_json_string(mcus, mcu);
  }
  mcus.push_back(']');
  std::string out;
  ObjectWriter(out).raw("targets", R"(["wasm","binary","no_std"])").raw("mcus", mcus).close();
  return out;
}

}  // namespace velkor
