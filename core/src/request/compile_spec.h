// The compile options of a "compile" request, as read from the request text.
#ifndef VELKOR_REQUEST_COMPILE_SPEC_H_
#define VELKOR_REQUEST_COMPILE_SPEC_H_

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "json/value.h"

namespace velkor {

enum class TargetKind { kWasm, kBinary, kNoStd };

// The target kinds' names in requests, manifests and the "targets" answer, in
// enum order.
inline constexpr std::array<std::string_view, 3> kTargetKindNames = {"wasm", "binary", "no_std"};

struct Target {
  TargetKind kind = TargetKind::kBinary;
  std::string mcu;  // only for kNoStd: the bare-metal target triple
};

enum class OptLevel { kDebug, kRelease, kSize };

// The optimisation levels' names in requests and manifests, in enum order.
inline constexpr std::array<std::string_view, 3> kOptLevelNames = {"debug", "release", "size"};
inline std::string_view opt_level_name(OptLevel level) { return kOptLevelNames[static_cast<std::size_t>(level)]; }

// The target as requests and manifests write it: {"kind":"wasm"},
// {"kind":"binary"} or {"kind":"no_std","mcu":"..."}. Its keys are in
// canonical order, so the text also serves inside canonical texts. Appended
// to `out`, which is mostly the text it is part of.
void append_target_json(std::string& out, const Target& target);

// The triple cargo builds a target for: "wasm32-unknown-unknown" for wasm, the
// mcu for no_std, and the empty text for a binary, which builds for the host.
inline std::string_view build_triple(const Target& target) {
  switch (target.kind) {
    case TargetKind::kWasm: return "wasm32-unknown-unknown";
    case TargetKind::kNoStd: return target.mcu;
    case TargetKind::kBinary: break;
  }
  return {};
}

struct DatasetRef {
  enum class Kind { kCsv, kInline };
  Kind kind = Kind::kCsv;
  std::string path;     // kCsv: the file to embed, relative to the working directory
  std::string candles_json;  // kInline: the canonical text of the candles array as received
  // kInline, when the canonical text was streamed while reading instead of
  // kept in candles_json: the candles' literal in the request text, which
  // lives as long as the command does.
  std::optional<std::string_view> streamed_candles;
};

struct CompileSpec {
  json::Value strategy;  // exactly as received; checked, never rewritten
  Target target;
  OptLevel opt_level = OptLevel::kRelease;
  std::optional<DatasetRef> embed_data;
  std::optional<std::string> crate_name;  // as requested; absent when not given
};

}  // namespace velkor

#endif  // VELKOR_REQUEST_COMPILE_SPEC_H_
