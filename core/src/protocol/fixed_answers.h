// The answers of "version" and "targets", which depend on nothing.
#ifndef VELKOR_PROTOCOL_FIXED_ANSWERS_H_
#define VELKOR_PROTOCOL_FIXED_ANSWERS_H_

#include <string>

namespace velkor {

// {"version":"0.2.0","backtest_dep":"0.1.5"}
std::string version_answer();
// {"targets":["wasm","binary","no_std"],"mcus":[the MCU allowlist, in order]}
std::string targets_answer();

}  // namespace velkor

#endif  // VELKOR_PROTOCOL_FIXED_ANSWERS_H_
