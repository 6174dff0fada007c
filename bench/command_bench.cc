// Runs one command text through dispatch_command many times on one handle and
// prints the CPU time per call, so that the core's own cost (without the
// binding) can be timed and counted. Under callgrind, collect only the calls:
//   valgrind --tool=callgrind --toggle-collect='velkor::dispatch_command*' \
//     build-bench/velkor_command_bench REQUEST_FILE 100
// and divide the instruction count by the number of calls. With 0 calls the
// answer is printed once.
#include <cstdio>
#include <cstdlib>
#include <ctime>
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
  std::size_t answer_bytes = 0;
  const std::clock_t start = std::clock();
  for (long i = 0; i < calls; ++i) answer_bytes += velkor::dispatch_command(state, request).size();
  const double seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
  std::printf("%ld calls, %.3f us/call CPU, %zu answer bytes per call\n", calls, seconds / calls * 1e6,
              answer_bytes / static_cast<std::size_t>(calls > 0 ? calls : 1));
  return 0;
}
