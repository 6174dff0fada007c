// Running an external program to completion with its output captured.
#ifndef VELKOR_BUILD_CHILD_PROCESS_H_
#define VELKOR_BUILD_CHILD_PROCESS_H_

#include <chrono>
#include <cstddef>
#include <expected>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "support/compile_error.h"

namespace velkor::build {

struct ChildOutcome {
  // True only when the program exited normally with code 0.
  bool succeeded = false;
  // The caller asked for the run to stop (ChildWatch::stop_requested) and the
  // program's process group was ended for it. A program that had exited with
  // code 0 by then still succeeded.
  bool stopped = false;
  // The end of its standard error, raw bytes: everything when short, otherwise
  // at least the last `stderr_keep` bytes the program wrote.
  std::string stderr_tail;
  // Its standard output, when ChildWatch::keep_stdout asked for it: at most
  // kStdoutKeep bytes, the start; empty otherwise.
  std::string stdout_text;
};

// The most of standard output a run keeps (ChildWatch::keep_stdout).
inline constexpr std::size_t kStdoutKeep = std::size_t{16} << 20;

// What a caller may see of a run while it goes on; every member is optional.
struct ChildWatch {
  // Each piece of either output stream as it is read (standard output's too,
  // though it is otherwise discarded).
  std::function<void(std::string_view)> on_output;
  // Called every `tick_every` while the program runs, never after it has
  // exited and been drained.
  std::function<void()> on_tick;
  std::chrono::milliseconds tick_every{1000};
  // The program was asked for colour: the kept tail is its plain text, with
  // terminal escape sequences removed (build/escape_filter.h).
  bool plain_tail = false;
  // Standard output is kept (ChildOutcome::stdout_text) instead of discarded.
  bool keep_stdout = false;
  // Asked about every kStopCheckEvery while the program runs (not once it has
  // exited); true ends the run: the program's process group gets SIGTERM,
  // then, once the program has ended or kStopGrace has passed, SIGKILL, so
  // that nothing it started outlives it. Not asked again after that.
  std::function<bool()> stop_requested;
};

inline constexpr std::chrono::milliseconds kStopCheckEvery{100};
inline constexpr std::chrono::milliseconds kStopGrace{500};

// Runs `program` (looked up on PATH as execvp does) with `args` as argv[1..]
// in the directory `cwd`, with the caller's environment, standard input from
// /dev/null and both output streams read concurrently until the program
// closes them (standard output is discarded unless kept), then reaps it.
// Only descriptors 0, 1 and 2 are open in the child; SIGPIPE and SIGCHLD
// start at their defaults and no signal is blocked.
//
// The program runs in a process group of its own, led by it: a Ctrl-C at the
// terminal reaches the caller alone, which decides whether to stop the build
// (stop_requested), and stopping it ends the group, the compilers it started
// included. It gets SIGKILL should the thread that started it end first
// (PR_SET_PDEATHSIG), so a caller killed outright leaves no program behind;
// what the program itself started then ends as the program's death leaves it.
// If a callback of `watch` throws, the group is killed and the program
// reaped before the exception leaves.
//
// Works whether the host ignores SIGCHLD or handles it (see the .cc). Blocks
// until the program exits; no time limit. `watch` sees the run as it goes;
// apart from plain_tail, keep_stdout and stop_requested it changes nothing of
// what is returned. A program that could not be run or waited for is a build
// error "spawning {program}: {cause}" or "waiting for {program}: {cause}".
std::expected<ChildOutcome, CompileError> run_child(const std::string& program, const std::vector<std::string>& args,
                                                    const std::string& cwd, std::size_t stderr_keep,
                                                    const ChildWatch& watch = {});

}  // namespace velkor::build

#endif  // VELKOR_BUILD_CHILD_PROCESS_H_
