// The "compile" command: read the request, generate the project, and unless
// it is a dry run write it and build it.
#ifndef VELKOR_PROTOCOL_COMPILE_COMMAND_H_
#define VELKOR_PROTOCOL_COMPILE_COMMAND_H_

#include <string>
#include <string_view>

#include "project/streamed_candles.h"
#include "request/compile_request.h"
#include "velkor/compiler.h"

namespace velkor {

// Answers a compile command text whose envelope has been read.
std::string compile_command(CompilerState& state, std::string_view text, const CommandHooks& hooks = {});
// Runs a compile request already read from its text, with `candles` the
// stream its inline candles went through (when they did). `hooks` as for
// dispatch_command.
std::string run_compile(CompilerState& state, request::CompileRequest& request,
                        project::StreamedCandles* candles = nullptr, const CommandHooks& hooks = {});

}  // namespace velkor

#endif  // VELKOR_PROTOCOL_COMPILE_COMMAND_H_
