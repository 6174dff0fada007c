#include "build/live_output.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <utility>

namespace velkor::build {
namespace {

// Output the descriptor cannot take yet waits up to this much; a reader slower
// than that loses the excess rather than holding the build.
constexpr std::size_t kPendingLimit = 256 * 1024;
// Once poll reports a pipe writable it has a free buffer slot, which takes
// this much whole, so a write of no more never waits. (Not so for a terminal,
// which reports itself writable with room for a single byte.)
constexpr std::size_t kPipeChunk = PIPE_BUF;
// Narrower than any terminal in use, so the line never wraps and a carriage
// return brings the cursor back to its start.
constexpr std::size_t kLineWidth = 79;
// A longer line is not a status line worth reading to its end.
constexpr std::size_t kStatusLineLimit = 512;

// A write to a pipe nobody reads raises SIGPIPE, whose default ends the
// process: for the scope the signal is blocked in this thread, and one that a
// write raised is taken back before the mask is restored. (It is
// thread-directed, so nothing else can receive it meanwhile.)
class QuietSigpipe {
 public:
  QuietSigpipe() {
    ::sigemptyset(&pipe_);
    ::sigaddset(&pipe_, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipe_, &saved_);
    sigset_t pending;
    ::sigpending(&pending);
    was_pending_ = ::sigismember(&pending, SIGPIPE) == 1;
  }
  ~QuietSigpipe() {
    if (raised_ && !was_pending_) {
      const timespec no_wait{};
      while (::sigtimedwait(&pipe_, nullptr, &no_wait) < 0 && errno == EINTR) {
      }
    }
    ::pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
  }
  QuietSigpipe(const QuietSigpipe&) = delete;
  QuietSigpipe& operator=(const QuietSigpipe&) = delete;

  void raised() { raised_ = true; }

 private:
  sigset_t pipe_;
  sigset_t saved_;
  bool was_pending_ = false;
  bool raised_ = false;
};

// At most `limit` bytes of `text`, cut at a character boundary.
void shorten(std::string& text, std::size_t limit) {
  if (text.size() <= limit) return;
  std::size_t cut = limit;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  text.resize(cut);
}

// A second, non-blocking open file description of what `fd` refers to, or -1.
// Setting O_NONBLOCK on `fd` itself would change the description the parent
// shell and every other process on the terminal share. Opening the file anew
// works for terminals, pipes and FIFOs (not for sockets, nor for a pipe whose
// reader is gone, nor for a terminal the user may not open).
int reopen_nonblocking(int fd, const struct stat& st) {
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  const int own = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (own < 0) return -1;
  struct stat same;
  if (::fstat(own, &same) == 0 && same.st_dev == st.st_dev && same.st_ino == st.st_ino && same.st_rdev == st.st_rdev) {
    return own;
  }
  ::close(own);
  return -1;
}

std::string dropped_marker(std::size_t bytes, bool at_line_start) {
  return std::string(at_line_start ? "" : "\n") + "[velkor-compile: " + std::to_string(bytes) +
         " bytes of cargo output dropped: standard error was not being read]\n";
}

}  // namespace

LiveOutput::LiveOutput(int fd, LiveOutputRequest request, std::string crate_name)
    : fd_(fd), request_(request), crate_name_(std::move(crate_name)), started_(std::chrono::steady_clock::now()) {
  struct stat st;
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fstat(fd, &st) != 0) {
    broken_ = true;
    return;
  }
  // A regular file never keeps a writer waiting, and a description that is
  // already non-blocking needs nothing more.
  if (S_ISREG(st.st_mode) || S_ISBLK(st.st_mode) || (flags & O_NONBLOCK) != 0) {
    way_ = Way::kNonBlocking;
  } else if (S_ISSOCK(st.st_mode)) {
    way_ = Way::kSocket;
  } else if ((own_fd_ = reopen_nonblocking(fd, st)) >= 0) {
    fd_ = own_fd_;
    way_ = Way::kNonBlocking;
  } else if (S_ISFIFO(st.st_mode)) {
    way_ = Way::kPipe;
  } else {
    broken_ = true;  // a write could wait, and nothing would interrupt it
  }
}

LiveOutput::~LiveOutput() {
  if (own_fd_ >= 0) ::close(own_fd_);
}

void LiveOutput::output(std::string_view piece) {
  if (request_.stream) {
    if (broken_ || piece.empty()) return;
    // Once a piece is dropped, so is everything until the marker can follow
    // what was taken: the gap is where the marker says it is.
    if (dropped_ > 0 || pending_.size() + piece.size() > kPendingLimit) {
      dropped_ += piece.size();
    } else {
      pending_.append(piece);
      at_line_start_ = piece.back() == '\n';
    }
    flush();
    return;
  }
  if (!request_.progress) return;
  std::string plain;
  plain_.append_plain(piece, plain);
  note_status(plain);
}

// Keeps the crate of cargo's last "   Compiling name v1.2.3 (path)" line.
void LiveOutput::note_status(std::string_view plain) {
  for (const char c : plain) {
    if (c != '\n' && c != '\r') {
      if (line_.size() < kStatusLineLimit) line_.push_back(static_cast<unsigned char>(c) < 0x20 ? ' ' : c);
      continue;
    }
    std::string_view line = line_;
    line.remove_prefix(std::min(line.find_first_not_of(' '), line.size()));
    if (line.starts_with("Compiling ")) status_ = line.substr(0, line.find(" ("));
    line_.clear();
  }
}

void LiveOutput::tick() {
  // A line still waiting to be written is not followed by a newer one.
  if (!request_.progress || request_.stream || broken_ || !pending_.empty()) return flush();
  const auto elapsed = std::chrono::steady_clock::now() - started_;
  std::string text = "building " + crate_name_ + ", " +
                     std::to_string(std::chrono::duration_cast<std::chrono::seconds>(elapsed).count()) + " s";
  if (!status_.empty()) text += ": " + status_;
  shorten(text, kLineWidth);
  pending_ = "\r" + text;
  // Spaces over what is left of a longer line drawn before.
  if (drawn_width_ > text.size()) pending_.append(drawn_width_ - text.size(), ' ');
  drawn_width_ = text.size();
  flush();
}

void LiveOutput::finish() {
  if (drawn_width_ > 0 && !broken_) {
    pending_ += '\r';
    pending_.append(drawn_width_, ' ');
    pending_ += '\r';
    drawn_width_ = 0;
  }
  flush();
}

void LiveOutput::flush() {
  if (broken_ || pending_.empty()) {
    pending_.clear();
    return;
  }
  write_pending();
  if (pending_.empty() && dropped_ > 0 && !broken_) {
    pending_ = dropped_marker(std::exchange(dropped_, 0), std::exchange(at_line_start_, true));
    write_pending();
  }
}

void LiveOutput::write_pending() {
  QuietSigpipe quiet;
  bool raised = false;
  std::size_t done = 0;
  while (done < pending_.size() && !broken_) {
    const std::size_t n = write_some(std::string_view(pending_).substr(done), raised);
    if (n == 0) break;  // it cannot take more now
    done += n;
  }
  if (raised) quiet.raised();
  if (broken_) {
    pending_.clear();
    return;
  }
  pending_.erase(0, done);
}

std::size_t LiveOutput::write_some(std::string_view bytes, bool& raised_sigpipe) {
  for (;;) {
    ssize_t n = -1;
    if (way_ == Way::kSocket) {
      n = ::send(fd_, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    } else if (way_ == Way::kNonBlocking) {
      n = ::write(fd_, bytes.data(), bytes.size());
    } else {
      pollfd p{fd_, POLLOUT, 0};
      const int ready = ::poll(&p, 1, 0);
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) return 0;
      if ((p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 || (p.revents & POLLOUT) == 0) {
        broken_ = true;  // not open, or nobody reads it any more
        return 0;
      }
      n = ::write(fd_, bytes.data(), std::min(bytes.size(), kPipeChunk));
    }
    if (n > 0) return static_cast<std::size_t>(n);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    if (errno == EPIPE) raised_sigpipe = true;
    broken_ = true;
    return 0;
  }
}

}  // namespace velkor::build
