#include "support/compile_error.h"

namespace velkor {

std::string CompileError::display() const {
  std::string_view prefix;
  switch (kind) {
    case CompileErrorKind::kParse: prefix = "parse: "; break;
    case CompileErrorKind::kBadSpec: prefix = "bad spec: "; break;
    case CompileErrorKind::kBadTarget: prefix = "bad target: "; break;
    case CompileErrorKind::kCodegen: prefix = "codegen: "; break;
    case CompileErrorKind::kBuild: prefix = "build: "; break;
    case CompileErrorKind::kIo: prefix = "io: "; break;
  }
  std::string text(prefix);
  text += message;
  return text;
}

}  // namespace velkor
