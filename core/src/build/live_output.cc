#include "build/live_output.h"

#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace velkor::build {
namespace {

// Output the descriptor cannot take yet waits up to this much; a reader slower
// than that loses the excess rather than holding the build.
constexpr std::size_t kPendingLimit = 256 * 1024;
// Once poll reports a pipe writable it takes this much whole, so a write of
// no more never waits.
constexpr std::size_t kWriteChunk = PIPE_BUF;
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

}  // namespace

LiveOutput::LiveOutput(int fd, LiveOutputRequest request, std::string crate_name)
    : fd_(fd), request_(request), crate_name_(std::move(crate_name)), started_(std::chrono::steady_clock::now()) {}

void LiveOutput::output(std::string_view piece) {
  if (request_.stream) {
    if (!broken_ && pending_.size() + piece.size() <= kPendingLimit) pending_.append(piece);
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
  QuietSigpipe quiet;
  std::size_t done = 0;
  while (done < pending_.size()) {
    pollfd p{fd_, POLLOUT, 0};
    const int ready = ::poll(&p, 1, 0);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;  // it cannot take more now
    if ((p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 || (p.revents & POLLOUT) == 0) {
      broken_ = true;  // not open, or nobody reads it any more
      break;
    }
    const ssize_t n = ::write(fd_, pending_.data() + done, std::min(pending_.size() - done, kWriteChunk));
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 || errno == EAGAIN) break;
    if (errno == EPIPE) quiet.raised();
    broken_ = true;
    break;
  }
  if (broken_) {
    pending_.clear();
    return;
  }
  pending_.erase(0, done);
}

}  // namespace velkor::build
