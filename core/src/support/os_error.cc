#include "support/os_error.h"

#include <cstring>

namespace velkor {

namespace {

// strerror_r comes in two forms, told apart by what it returns. The GNU form
// (glibc) returns the text, which may be a static string rather than `buf`.
[[maybe_unused]] const char* error_text(const char* returned, const char* /*buf*/) { return returned; }
// The XSI form (musl and others) fills `buf` and returns 0, or an error
// number when it has no text for `errnum`.
[[maybe_unused]] const char* error_text(int returned, const char* buf) {
  return returned == 0 ? buf : "Unknown error";
}

}  // namespace

std::string os_error_text(int errnum) {
  char buf[256];
  buf[0] = '\0';
  std::string out(error_text(strerror_r(errnum, buf, sizeof buf), buf));
  out += " (os error ";
  out += std::to_string(errnum);
  out += ')';
  return out;
}

}  // namespace velkor
