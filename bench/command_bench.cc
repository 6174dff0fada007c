// Runs one command text through dispatch_command many times on one handle and
// prints the CPU time per call, so that the core's own cost (without the
// binding) can be timed and counted. Under callgrind, collect only the calls:
//   valgrind --tool=callgrind --toggle-collect='velkor::dispatch_command*' \
//     build-bench/velkor_command_bench REQUEST_FILE 100
// and divide the instruction count by the number of calls. With 0 calls the
// answer is printed once. Beside the process's CPU time it prints the calling
// thread's: a command that hashes large inline data on a worker thread as well
// takes about the latter in wall time when a second core is free.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <time.h>
#include <fstream>
#include <sstream>
#include <string>

#include "velkor/compiler.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s REQUEST_FILE [CALLS]\n", argv[0]);
    return 2;
  }
  std::ifstream file(argv[1], std::ios::binary);
  if (!file) {
    std::fprintf(stderr, "cannot read %s\n", argv[1]);
    return 2;
  }
  std::stringstream content;
  content << file.rdbuf();
  const std::string request = content.str();
  const long calls = argc > 2 ? std::atol(argv[2]) : 1000;

  velkor::CompilerState state;
  if (calls == 0) {  // prints the answer instead, for comparing builds
    std::fputs(velkor::dispatch_command(state, request).c_str(), stdout);
    return 0;
  }
  auto thread_seconds = [] {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
  };
  std::size_t answer_bytes = 0;
  const auto wall_start = std::chrono::steady_clock::now();
  const std::clock_t start = std::clock();
  const double thread_start = thread_seconds();
  for (long i = 0; i < calls; ++i) answer_bytes += velkor::dispatch_command(state, request).size();
  const double seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
  const double on_thread = thread_seconds() - thread_start;
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count();
  std::printf("%ld calls, %.3f us/call CPU (%.3f on the calling thread, %.3f wall), %zu answer bytes per call\n",
              calls, seconds / calls * 1e6, on_thread / calls * 1e6, wall / calls * 1e6,
              answer_bytes / static_cast<std::size_t>(calls > 0 ? calls : 1));
  return 0;
}
