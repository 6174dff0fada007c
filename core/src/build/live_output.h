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
// for it, whether its reader is slow, has stopped reading or the terminal is
// stopped (XOFF): bytes the descriptor cannot take at once wait in a bounded
// buffer and are retried at the next piece or tick. Cargo's output beyond that
// bound is dropped until the buffer has been written out, and then one line
// says how much was lost:
//   "[velkor-compile: N bytes of cargo output dropped: standard error was not being read]"
// (when the descriptor never takes the buffer, not even at the end, the line is
// lost with it). After a write error (a closed descriptor, a reader gone)
// everything is dropped. A failed write never raises SIGPIPE in the process.
// The descriptor's open file description is never changed (it is shared with
// the parent shell): a terminal, pipe or FIFO is written through a private
// non-blocking one opened anew (/proc/self/fd/N); a terminal that cannot be
// opened anew (another user's, say) gets nothing. The build does not depend
// on any of it.
class LiveOutput {
 public:
  // `crate_name` names the build in the progress line.
  LiveOutput(int fd, LiveOutputRequest request, std::string crate_name);
  ~LiveOutput();
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
  // How bytes reach the descriptor without waiting for it (see the .cc).
  enum class Way { kNonBlocking, kSocket, kPipe, kNone };

  void note_status(std::string_view plain);
  void flush();
  void write_pending();
  // Writes a prefix of `bytes`; returns its length, 0 when nothing fits now.
  // A write error sets broken_.
  std::size_t write_some(std::string_view bytes, bool& raised_sigpipe);

  int fd_;
  // The private non-blocking description, or -1.
  int own_fd_ = -1;
  Way way_ = Way::kNone;
  LiveOutputRequest request_;
  std::string crate_name_;
  std::chrono::steady_clock::time_point started_;
  std::string pending_;
  bool broken_ = false;
  // Bytes of cargo's output dropped since pending_ was last written out, and
  // whether the bytes taken so far end a line (the marker starts one).
  std::size_t dropped_ = 0;
  bool at_line_start_ = true;
  // Progress: the crate from cargo's last "Compiling" line, the partial line
  // being read, and the width of the line on screen (to overwrite or clear it).
  EscapeFilter plain_;
  std::string line_;
  std::string status_;
  std::size_t drawn_width_ = 0;
};

}  // namespace velkor::build

#endif  // VELKOR_BUILD_LIVE_OUTPUT_H_
