#include "base/compile_spec.h"

#include "json/string_escape.h"

namespace velkor {

std::string target_json(const Target& target) {
  switch (target.kind) {
    case TargetKind::kWasm:
      return R"({"kind":"wasm"})";
    case TargetKind::kBinary:
      return R"({"kind":"binary"})";
    case TargetKind::kNoStd: {
      std::string out = R"({"kind":"no_std","mcu":)";
      json::append_json_string(out, target.mcu);
      out.push_back('}');
      return out;
    }
  }
  return {};
}

}  // namespace velkor
