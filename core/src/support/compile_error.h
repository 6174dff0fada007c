// The compile pipeline's error: one of six kinds, each carrying the message a
// user reads, displayed with the kind's prefix.
#ifndef VELKOR_SUPPORT_COMPILE_ERROR_H_
#define VELKOR_SUPPORT_COMPILE_ERROR_H_

#include <string>
#include <string_view>

namespace velkor {

enum class CompileErrorKind { kParse, kBadSpec, kBadTarget, kCodegen, kBuild, kIo };

struct CompileError {
  CompileErrorKind kind;
  std::string message;

  // "parse: {}", "bad spec: {}", "bad target: {}", "codegen: {}", "build: {}", "io: {}".
  std::string display() const;
};

inline CompileError bad_spec(std::string message) { return {CompileErrorKind::kBadSpec, std::move(message)}; }
inline CompileError bad_target(std::string message) { return {CompileErrorKind::kBadTarget, std::move(message)}; }
inline CompileError build_error(std::string message) { return {CompileErrorKind::kBuild, std::move(message)}; }
inline CompileError io_error(std::string message) { return {CompileErrorKind::kIo, std::move(message)}; }

}  // namespace velkor

#endif  // VELKOR_SUPPORT_COMPILE_ERROR_H_
