// The "compile" command: read the request, generate the project, and unless
// it is a dry run write it and build it.
#ifndef VELKOR_PROTOCOL_COMPILE_COMMAND_H_
#define VELKOR_PROTOCOL_COMPILE_COMMAND_H_

#include <string>
#include <string_view>

#include "velkor/compiler.h"

namespace velkor {

std::string compile_command(CompilerState& state, std::string_view text);

}  // namespace velkor

#endif  // VELKOR_PROTOCOL_COMPILE_COMMAND_H_
