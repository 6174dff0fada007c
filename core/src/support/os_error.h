// Operating-system error texts as users read them in messages:
// "{C library message} (os error N)".
#ifndef VELKOR_SUPPORT_OS_ERROR_H_
#define VELKOR_SUPPORT_OS_ERROR_H_

#include <string>

namespace velkor {

// strerror(errnum) followed by " (os error {errnum})".
std::string os_error_text(int errnum);

// The description used when a path handed to the system contains a NUL byte.
inline constexpr const char* kNulInPathText = "file name contained an unexpected NUL byte";

}  // namespace velkor

#endif  // VELKOR_SUPPORT_OS_ERROR_H_
