#include "request/compile_spec.h"

#include "json/string_escape.h"

namespace velkor {

void append_target_json(std::string& out, const Target& target) {
  out.append(R"({"kind":")");
  out.append(kTargetKindNames[static_cast<std::size_t>(target.kind)]);
  out.push_back('"');
  if (target.kind == TargetKind::kNoStd) {
    out.append(R"(,"mcu":)");
    json::append_json_string(out, target.mcu);
  }
  out.push_back('}');
}

}  // namespace velkor
