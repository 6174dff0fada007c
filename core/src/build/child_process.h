// Running an external program to completion with its output captured.
#ifndef VELKOR_BUILD_CHILD_PROCESS_H_
#define VELKOR_BUILD_CHILD_PROCESS_H_

#include <cstddef>
#include <expected>
#include <string>
#include <string_view>
#include <vector>

namespace velkor::build {

struct ChildOutcome {
  // True only when the program exited normally with code 0.
  bool succeeded = false;
  // The end of its standard error, raw bytes: everything when short, otherwise
  // at least the last `stderr_keep` bytes the program wrote.
  std::string stderr_tail;
};

// Why a program could not be run or waited for.
struct ChildFault {
  enum class Stage { kSpawn, kWait };
  Stage stage;
  std::string cause;  // "No such file or directory (os error 2)" and the like
};

// Runs `program` (looked up on PATH) with `args` as argv[1..] in the directory
// `cwd`, with the caller's environment, standard input from /dev/null and both
// output streams read concurrently until the program closes them (standard
// output is discarded), then reaps it. Only descriptors 0, 1 and 2 are open in
// the child; SIGPIPE and SIGCHLD start at their defaults and no signal is
// blocked. Works whether the host ignores SIGCHLD or handles it (see the .cc).
// Blocks until the program exits; no time limit.
std::expected<ChildOutcome, ChildFault> run_child(const std::string& program, const std::vector<std::string>& args,
                                                  const std::string& cwd, std::size_t stderr_keep);

}  // namespace velkor::build

#endif  // VELKOR_BUILD_CHILD_PROCESS_H_
