// The versions the compiler reports. Public, and free of everything else, so
// that every layer of the core may use them.
#ifndef VELKOR_VERSION_H_
#define VELKOR_VERSION_H_

#include <string_view>

namespace velkor {

// The library version, reported by "version", `version()` and every manifest.
// The build reads it from this line for the package metadata and CMake.
inline constexpr std::string_view kVersion = "0.2.0";
// The version requirement generated projects put on their backtest dependency.
inline constexpr std::string_view kBacktestDep = "0.1.5";

}  // namespace velkor

#endif  // VELKOR_VERSION_H_
