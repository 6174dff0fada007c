#include "request/compile_spec.h"

#include "json/string_escape.h"

namespace velkor {

void append_target_json(std::string& out, const Target& target) {
  switch (target.kind) {
    case TargetKind::kWasm:
      out.append(R"({"kind":"wasm"})");
      return;
    case TargetKind::kBinary:
      out.append(R"({"kind":"binary"})");
      return;
    case TargetKind::kNoStd:
      out.append(R"({"kind":"no_std","mcu":)");
      json::append_json_string(out, target.mcu);
      out.push_back('}');
      return;
  }
}

}  // namespace velkor
