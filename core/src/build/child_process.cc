#include "build/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <pthread.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <utility>

#include "build/escape_filter.h"
#include "support/os_error.h"

extern char** environ;

namespace velkor::build {
namespace {

// While a child is being waited for, SIGCHLD must not be ignored (nor carry
// SA_NOCLDWAIT): the kernel would then reap the child by itself and waitpid
// would fail with ECHILD, losing the exit status. A host such as an embedding
// interpreter may have set either, so the disposition is switched to one that
// keeps zombies for the duration and put back afterwards. A handler the host
// installed keeps running. Builds on several threads share one switch: the
// first saves and changes the disposition, the last restores it.
class ChildReapingScope {
 public:
  ChildReapingScope() {
    std::lock_guard lock(mutex_);
    if (users_++ > 0) return;
    struct sigaction current;
    ::sigaction(SIGCHLD, nullptr, &current);
    changed_ = current.sa_handler == SIG_IGN || (current.sa_flags & SA_NOCLDWAIT) != 0;
    if (!changed_) return;
    saved_ = current;
    struct sigaction keeping = current;
    keeping.sa_flags &= ~SA_NOCLDWAIT;
    if (keeping.sa_handler == SIG_IGN) keeping.sa_handler = SIG_DFL;
    ::sigaction(SIGCHLD, &keeping, nullptr);
  }
  ~ChildReapingScope() {
    std::lock_guard lock(mutex_);
    if (--users_ > 0 || !changed_) return;
    ::sigaction(SIGCHLD, &saved_, nullptr);
    changed_ = false;
  }
  ChildReapingScope(const ChildReapingScope&) = delete;
  ChildReapingScope& operator=(const ChildReapingScope&) = delete;

 private:
  static inline std::mutex mutex_;
  static inline int users_ = 0;
  static inline bool changed_ = false;
  static inline struct sigaction saved_;
};

class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    reset(std::exchange(other.fd_, -1));
    return *this;
  }
  ~Fd() { reset(); }
  int get() const { return fd_; }
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

// A close-on-exec pipe whose ends are above the standard descriptors, so that
// redirecting the child's 0, 1 and 2 can never overwrite one of them (which
// could happen if the host runs with a standard descriptor closed).
std::expected<std::pair<Fd, Fd>, int> make_pipe() {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return std::unexpected(errno);
  Fd read_end(ends[0]), write_end(ends[1]);
  for (Fd* end : {&read_end, &write_end}) {
    if (end->get() > 2) continue;
    int moved = ::fcntl(end->get(), F_DUPFD_CLOEXEC, 3);
    if (moved < 0) return std::unexpected(errno);
    end->reset(moved);
  }
  return std::pair{std::move(read_end), std::move(write_end)};
}

// Where execvp would look for `program`: the program itself when it names a
// path, otherwise each entry of PATH (the C library's default when PATH is
// unset; an empty entry is the working directory) joined with it. Made before
// the fork, since the child may only make system calls.
std::vector<std::string> exec_candidates(const std::string& program) {
  if (program.find('/') != std::string::npos) return {program};
  const char* path = std::getenv("PATH");
  const std::string_view entries = path != nullptr ? path : "/bin:/usr/bin";
  std::vector<std::string> candidates;
  for (std::size_t start = 0;;) {
    const std::size_t colon = entries.find(':', start);
    std::string_view entry = entries.substr(start, colon == std::string_view::npos ? colon : colon - start);
    std::string candidate(entry.empty() ? "." : entry);
    candidate += '/';
    candidate += program;
    candidates.push_back(std::move(candidate));
    if (colon == std::string_view::npos) break;
    start = colon + 1;
  }
  return candidates;
}

// What the child needs, all prepared before the fork.
struct ExecPlan {
  std::vector<const char*> candidates;
  char* const* argv;
  char* const* envp;
  const char* cwd;
  int stdout_fd;
  int stderr_fd;
  int report_fd;  // close-on-exec; receives the errno of a step that failed
  pid_t parent;
};

void close_from(int first, unsigned int last) {
  if (static_cast<unsigned int>(first) > last) return;
#ifdef SYS_close_range  // C libraries whose headers predate the call take the loop below
  if (::syscall(SYS_close_range, first, last, 0) == 0) return;
#endif
  struct rlimit limit;
  const unsigned int open_max = ::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < (1u << 20)
                                    ? static_cast<unsigned int>(limit.rlim_cur)
                                    : (1u << 20);
  for (unsigned int fd = static_cast<unsigned int>(first); fd <= last && fd < open_max; ++fd) {
    ::close(static_cast<int>(fd));
  }
}

// The child between fork and exec: only async-signal-safe calls. Never
// returns; a failed step writes its errno to report_fd and exits 127.
[[noreturn]] void report_and_exit(int report_fd, int errnum) {
  while (::write(report_fd, &errnum, sizeof errnum) < 0 && errno == EINTR) {
  }
  ::_exit(127);
}

[[noreturn]] void exec_child(const ExecPlan& plan) {
  auto fail = [&plan](int errnum) { report_and_exit(plan.report_fd, errnum); };
  // A group of its own first, while signals are still blocked.
  if (::setpgid(0, 0) != 0) fail(errno);
  // Die with the thread that started us; if that already happened, go now.
  if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) fail(errno);
  if (::getppid() != plan.parent) ::_exit(127);

  // The host's handlers are not ours (they could write to the host's
  // descriptors); ignored SIGPIPE and SIGCHLD go back to their defaults, as
  // the tool expects; other ignored signals stay ignored, as exec keeps them.
  for (int sig = 1; sig < NSIG; ++sig) {
    if (sig == SIGKILL || sig == SIGSTOP) continue;
    struct sigaction current;
    if (::sigaction(sig, nullptr, &current) != 0) continue;
    const bool ignored = current.sa_handler == SIG_IGN && !(current.sa_flags & SA_SIGINFO);
    if (current.sa_handler == SIG_DFL && !(current.sa_flags & SA_SIGINFO)) continue;
    if (ignored && sig != SIGPIPE && sig != SIGCHLD) continue;
    struct sigaction reset = {};
    reset.sa_handler = SIG_DFL;
    ::sigaction(sig, &reset, nullptr);
  }
  sigset_t none;
  ::sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);

  if (::dup2(plan.stdout_fd, 1) < 0 || ::dup2(plan.stderr_fd, 2) < 0) fail(errno);
  const int null_fd = ::open("/dev/null", O_RDONLY);
  if (null_fd < 0) fail(errno);
  if (null_fd != 0) {
    if (::dup2(null_fd, 0) < 0) fail(errno);
    ::close(null_fd);
  }
  if (::chdir(plan.cwd) != 0) fail(errno);
  // Descriptors the host opened without close-on-exec must not reach the
  // tool; the report pipe is close-on-exec already.
  close_from(3, static_cast<unsigned int>(plan.report_fd) - 1);
  close_from(plan.report_fd + 1, ~0u);

  // As execvp: a candidate that is not there is passed over; one that may not
  // be run is remembered, in case none is found.
  int failure = ENOENT;
  bool denied = false;
  for (const char* candidate : plan.candidates) {
    ::execve(candidate, plan.argv, plan.envp);
    failure = errno;
    if (failure == EACCES) {
      denied = true;
      continue;
    }
    const bool not_there =
        failure == ENOENT || failure == ENOTDIR || failure == ESTALE || failure == ENODEV || failure == ETIMEDOUT;
    if (!not_there) break;
  }
  const bool none_found = failure == ENOENT || failure == ENOTDIR || failure == EACCES;
  report_and_exit(plan.report_fd, denied && none_found ? EACCES : failure);
}

// Blocks every signal in the calling thread for its lifetime, so that none
// is handled in the child between fork and the reset of its dispositions.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t all;
    ::sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &saved_);
  }
  ~SignalsHeld() { ::pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t saved_;
};

// Starts the program in a process group of its own. Returns its pid, or the
// errno of the step that failed (the child is then reaped).
std::expected<pid_t, int> spawn(const std::string& program, const std::vector<std::string>& args,
                                const std::string& cwd, int stdout_fd, int stderr_fd) {
  const std::vector<std::string> candidates = exec_candidates(program);
  std::vector<char*> argv;
  argv.reserve(args.size() + 2);
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  auto report = make_pipe();
  if (!report) return std::unexpected(report.error());
  auto& [report_read, report_write] = *report;

  ExecPlan plan{{}, argv.data(), environ, cwd.c_str(), stdout_fd, stderr_fd, report_write.get(), ::getpid()};
  for (const std::string& candidate : candidates) plan.candidates.push_back(candidate.c_str());

  pid_t pid;
  {
    SignalsHeld held;
    pid = ::fork();
    if (pid == 0) exec_child(plan);
  }
  if (pid < 0) return std::unexpected(errno);
  // The child makes its group before anything else; once the report pipe
  // closes, the group exists.
  report_write.reset();
  int failure = 0;
  std::size_t got = 0;
  while (got < sizeof failure) {
    const ssize_t n = ::read(report_read.get(), reinterpret_cast<char*>(&failure) + got, sizeof failure - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  if (got == 0) return pid;  // closed by a successful exec
  while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
  return std::unexpected(got == sizeof failure ? failure : EIO);
}

// A started program until it is reaped: reads its output, stops its group
// when asked, and never leaves it running or unreaped, even when a callback
// throws.
class RunningChild {
 public:
  RunningChild(pid_t pid, Fd stdout_read, Fd stderr_read, std::size_t stderr_keep, const ChildWatch& watch)
      : pid_(pid),
        stdout_read_(std::move(stdout_read)),
        stderr_read_(std::move(stderr_read)),
        // Readable once the program has terminated; not available on kernels
        // before 5.3, where the pipes alone decide (see drain). Called through
        // syscall(): glibc 2.36's <sys/pidfd.h> lacks C linkage for C++.
        exited_(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0))),
        stderr_keep_(stderr_keep),
        watch_(watch) {}
  ~RunningChild() {
    if (reaped_) return;
    ::kill(-pid_, SIGKILL);
    reap();
  }
  RunningChild(const RunningChild&) = delete;
  RunningChild& operator=(const RunningChild&) = delete;

  std::expected<void, int> drain();
  // The exit status; -1 with errno when it could not be collected.
  int reap();

  bool stopped() const { return stopped_; }
  std::string take_tail() { return std::move(tail_); }
  std::string take_stdout() { return std::move(stdout_text_); }

 private:
  using Clock = std::chrono::steady_clock;

  void keep(std::string_view piece, bool from_stdout);
  // The group gets SIGTERM now and SIGKILL at kill_at_ (see finish_stop).
  void start_stop();
  // SIGKILL to what is left of the group. The program is not reaped yet, so
  // its pid still names the group and cannot have been given to another.
  void finish_stop();

  pid_t pid_;
  Fd stdout_read_, stderr_read_, exited_;
  std::size_t stderr_keep_;
  const ChildWatch& watch_;
  std::string tail_;
  std::string stdout_text_;
  EscapeFilter plain_;
  bool stopped_ = false;
  bool killed_ = false;
  bool reaped_ = false;
  Clock::time_point kill_at_;
  int status_ = 0;
};

// Reads both pipes until each reports end of file, or until the program has
// exited and what it wrote is read. Both are watched at once so that a child
// filling one pipe while we wait on the other cannot deadlock. The exit is
// watched too (a pidfd, or none where the kernel has none): a process the
// program left running in the background inherits the pipes and may hold
// them open for as long as it lives, and the build must end with the
// program, not with its descendants. Everything the program itself wrote is
// in the pipes by the time it has exited, so reading until they are
// momentarily empty loses none of it.
std::expected<void, int> RunningChild::drain() {
  char buf[65536];
  pollfd fds[3] = {{stdout_read_.get(), POLLIN, 0}, {stderr_read_.get(), POLLIN, 0}, {exited_.get(), POLLIN, 0}};
  int open_count = 2;
  bool program_exited = false;
  auto next_tick = Clock::now() + watch_.tick_every;
  auto next_stop_check = Clock::now();
  while (open_count > 0) {
    int timeout = -1;
    if (program_exited) {
      timeout = 0;  // once the program has exited, only what is already buffered is read
    } else {
      const auto now = Clock::now();
      std::optional<Clock::time_point> wake;
      auto wake_at = [&wake](Clock::time_point at) { wake = wake ? std::min(*wake, at) : at; };
      if (watch_.on_tick) {
        if (now >= next_tick) {
          watch_.on_tick();
          next_tick = now + watch_.tick_every;
        }
        wake_at(next_tick);
      }
      if (watch_.stop_requested && !stopped_) {
        if (now >= next_stop_check) {
          if (watch_.stop_requested()) start_stop();
          next_stop_check = now + kStopCheckEvery;
        }
        if (!stopped_) wake_at(next_stop_check);
      }
      if (stopped_ && !killed_) {
        if (now >= kill_at_) finish_stop();
        if (!killed_) wake_at(kill_at_);
      }
      // Rounded up, so that the wake-up does not come just before it is due.
      if (wake) {
        timeout = static_cast<int>(std::max<std::int64_t>(
            0, std::chrono::ceil<std::chrono::milliseconds>(*wake - Clock::now()).count()));
      }
    }
    int ready = ::poll(fds, 3, timeout);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(errno);
    }
    if (ready == 0 && program_exited) break;  // exited, and nothing more is waiting in the pipes
    if (fds[2].fd >= 0 && fds[2].revents != 0) {
      program_exited = true;
      fds[2].fd = -1;
    }
    for (pollfd* p : {&fds[0], &fds[1]}) {
      if (p->fd < 0 || p->revents == 0) continue;
      ssize_t n = ::read(p->fd, buf, sizeof buf);
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (n <= 0) {  // end of file, or an error that ends this stream
        p->fd = -1;
        --open_count;
        continue;
      }
      const std::string_view piece(buf, static_cast<std::size_t>(n));
      if (watch_.on_output) watch_.on_output(piece);
      keep(piece, p == &fds[0]);
    }
  }
  return {};
}

void RunningChild::keep(std::string_view piece, bool from_stdout) {
  if (from_stdout) {
    if (watch_.keep_stdout) {
      stdout_text_.append(piece.substr(0, kStdoutKeep - std::min(kStdoutKeep, stdout_text_.size())));
    }
    return;
  }
  if (watch_.plain_tail) {
    plain_.append_plain(piece, tail_);
  } else {
    tail_.append(piece);
  }
  // Keep memory bounded for a chatty tool: only the end is ever reported.
  if (tail_.size() > 2 * stderr_keep_ + 65536) tail_.erase(0, tail_.size() - stderr_keep_);
}

void RunningChild::start_stop() {
  stopped_ = true;
  ::kill(-pid_, SIGTERM);
  kill_at_ = Clock::now() + kStopGrace;
}

void RunningChild::finish_stop() {
  killed_ = true;
  ::kill(-pid_, SIGKILL);
}

int RunningChild::reap() {
  // A stopped program has ended (or is about to, by SIGKILL): whatever of
  // its group outlived it goes with it, before the pid is released.
  if (stopped_ && !killed_) finish_stop();
  reaped_ = true;
  while (::waitpid(pid_, &status_, 0) < 0) {
    if (errno == EINTR) continue;
    return -1;
  }
  return status_;
}

}  // namespace

std::expected<ChildOutcome, CompileError> run_child(const std::string& program, const std::vector<std::string>& args,
                                                    const std::string& cwd, std::size_t stderr_keep,
                                                    const ChildWatch& watch) {
  auto fault = [&program](std::string_view step, std::string_view cause) {
    return std::unexpected(build_error(std::string(step) + " " + program + ": " + std::string(cause)));
  };
  auto spawn_fault = [&fault](int errnum) { return fault("spawning", os_error_text(errnum)); };
  auto has_nul = [](const std::string& s) { return s.find('\0') != std::string::npos; };
  bool nul = has_nul(program) || has_nul(cwd);
  for (const std::string& a : args) nul = nul || has_nul(a);
  if (nul) return fault("spawning", "nul byte found in provided data");

  auto out_pipe = make_pipe();
  if (!out_pipe) return spawn_fault(out_pipe.error());
  auto err_pipe = make_pipe();
  if (!err_pipe) return spawn_fault(err_pipe.error());
  auto& [out_read, out_write] = *out_pipe;
  auto& [err_read, err_write] = *err_pipe;

  ChildReapingScope reaping;
  auto pid = spawn(program, args, cwd, out_write.get(), err_write.get());
  if (!pid) return spawn_fault(pid.error());
  // Our copies of the write ends must go, or the pipes would never report EOF.
  out_write.reset();
  err_write.reset();

  RunningChild child(*pid, std::move(out_read), std::move(err_read), stderr_keep, watch);
  auto drained = child.drain();
  const int status = child.reap();
  // ECHILD: something else in the process reaped our child (a SIGCHLD
  // handler that waits for any child). The exit status is lost, and a build
  // whose outcome is unknown must not pass for a successful one.
  if (status < 0) return fault("waiting for", os_error_text(errno));
  if (!drained) return fault("waiting for", os_error_text(drained.error()));

  ChildOutcome outcome;
  outcome.succeeded = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  outcome.stopped = child.stopped();
  outcome.stderr_tail = child.take_tail();
  outcome.stdout_text = child.take_stdout();
  return outcome;
}

}  // namespace velkor::build
