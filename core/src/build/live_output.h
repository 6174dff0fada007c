// What a build shows on the process's standard error while cargo runs, when
// the request asks for it: cargo's own output teed live, or one progress line.
#ifndef VELKOR_BUILD_LIVE_OUTPUT_H_
#define VELKOR_BUILD_LIVE_OUTPUT_H_

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

#include "build/escape_filter.h"

namespace velkor::build {

// What the caller of a build asked to see. Neither: the build writes nothing.
struct LiveOutputRequest {
  bool stream = false;    // cargo's output as it comes
  bool progress = false;  // one line updated in place; not drawn while streaming
};

// Writes to one descriptor (standard error in a build) without ever waiting
// for it: bytes the descriptor cannot take at once wait in a bounded buffer
// and are retried at the next piece or tick; beyond that bound, and after any
// write error (a closed descriptor, a reader gone), output is dropped. A
// failed write never raises SIGPIPE in the process. The build does not depend
// on any of it.
class LiveOutput {
 public:
  // `crate_name` names the build in the progress line.
  LiveOutput(int fd, LiveOutputRequest request, std::string crate_name);
  LiveOutput(const LiveOutput&) = delete;
  LiveOutput& operator=(const LiveOutput&) = delete;

  // A piece of cargo's output (either stream).
  void output(std::string_view piece);
  // About once a second: redraws the progress line with the elapsed seconds
  // and the crate cargo last said it was compiling.
  void tick();
  // Cargo has ended: clears the progress line, a last try for what waits.
  void finish();

 private:
  void note_status(std::string_view plain);
  void flush();

  int fd_;
  LiveOutputRequest request_;
  std::string crate_name_;
  std::chrono::steady_clock::time_point started_;
  std::string pending_;
  bool broken_ = false;
  // Progress: the crate from cargo's last "Compiling" line, the partial line
  // being read, and the width of the line on screen (to overwrite or clear it).
  EscapeFilter plain_;
  std::string line_;
  std::string status_;
  std::size_t drawn_width_ = 0;
};

}  // namespace velkor::build

#endif  // VELKOR_BUILD_LIVE_OUTPUT_H_
