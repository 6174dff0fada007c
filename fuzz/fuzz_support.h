// Checks shared by the fuzz targets. A failed check aborts, which libFuzzer
// reports as a crash and saves the input that caused it.
#ifndef VELKOR_FUZZ_FUZZ_SUPPORT_H_
#define VELKOR_FUZZ_FUZZ_SUPPORT_H_

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace velkor::fuzz {

[[noreturn]] inline void fail(const char* law, std::string_view detail = {}) {
  std::fprintf(stderr, "fuzz law broken: %s\n%.*s\n", law, static_cast<int>(detail.size()), detail.data());
  std::abort();
}

inline void check(bool holds, const char* law, std::string_view detail = {}) {
  if (!holds) fail(law, detail);
}

}  // namespace velkor::fuzz

#endif  // VELKOR_FUZZ_FUZZ_SUPPORT_H_
