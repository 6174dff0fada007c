#include "build/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
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

class SpawnSetup {
 public:
  SpawnSetup() {
    ::posix_spawn_file_actions_init(&actions_);
    ::posix_spawnattr_init(&attr_);
  }
  ~SpawnSetup() {
    ::posix_spawn_file_actions_destroy(&actions_);
    ::posix_spawnattr_destroy(&attr_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  // Returns 0 or the errno of the first step that could not be recorded.
  int prepare(int stdout_fd, int stderr_fd, const char* cwd) {
    if (int e = ::posix_spawn_file_actions_adddup2(&actions_, stdout_fd, 1)) return e;
    if (int e = ::posix_spawn_file_actions_adddup2(&actions_, stderr_fd, 2)) return e;
    if (int e = ::posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0)) return e;
    if (int e = ::posix_spawn_file_actions_addchdir_np(&actions_, cwd)) return e;
    // Descriptors the host opened without close-on-exec must not reach the tool.
    if (int e = ::posix_spawn_file_actions_addclosefrom_np(&actions_, 3)) return e;

    // A host may ignore SIGPIPE (interpreters commonly do) or SIGCHLD, and
    // ignored dispositions survive exec; the tool expects the defaults.
    sigset_t defaults;
    ::sigemptyset(&defaults);
    ::sigaddset(&defaults, SIGPIPE);
    ::sigaddset(&defaults, SIGCHLD);
    sigset_t none;
    ::sigemptyset(&none);
    if (int e = ::posix_spawnattr_setsigdefault(&attr_, &defaults)) return e;
    if (int e = ::posix_spawnattr_setsigmask(&attr_, &none)) return e;
    return ::posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  }

  const posix_spawn_file_actions_t* actions() const { return &actions_; }
  const posix_spawnattr_t* attr() const { return &attr_; }

 private:
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attr_;
};

// Reads both pipes until each reports end of file, or until the program has
// exited and what it wrote is read. Both are watched at once so that a child
// filling one pipe while we wait on the other cannot deadlock. The exit is
// watched too (`exited`, a pidfd, or -1 where the kernel has none): a process
// the program left running in the background inherits the pipes and may hold
// them open for as long as it lives, and the build must end with the program,
// not with its descendants. Everything the program itself wrote is in the
// pipes by the time it has exited, so reading until they are momentarily empty
// loses none of it.
std::expected<std::string, int> drain(Fd stdout_read, Fd stderr_read, int exited, std::size_t stderr_keep,
                                      const ChildWatch& watch) {
  using Clock = std::chrono::steady_clock;
  std::string tail;
  EscapeFilter plain;
  char buf[65536];
  pollfd fds[3] = {{stdout_read.get(), POLLIN, 0}, {stderr_read.get(), POLLIN, 0}, {exited, POLLIN, 0}};
  int open_count = 2;
  bool program_exited = false;
  auto next_tick = Clock::now() + watch.tick_every;
  while (open_count > 0) {
    int timeout = -1;
    if (program_exited) {
      timeout = 0;  // once the program has exited, only what is already buffered is read
    } else if (watch.on_tick) {
      const auto now = Clock::now();
      if (now >= next_tick) {
        watch.on_tick();
        next_tick = now + watch.tick_every;
      }
      // Rounded up, so that the wake-up does not come just before the tick is due.
      timeout = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(next_tick - now).count());
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
      if (watch.on_output) watch.on_output(piece);
      if (p == &fds[0]) continue;  // standard output is not kept
      if (watch.plain_tail) {
        plain.append_plain(piece, tail);
      } else {
        tail.append(piece);
      }
      // Keep memory bounded for a chatty tool: only the end is ever reported.
      if (tail.size() > 2 * stderr_keep + sizeof buf) tail.erase(0, tail.size() - stderr_keep);
    }
  }
  return tail;
}

}  // namespace

std::expected<ChildOutcome, ChildFault> run_child(const std::string& program, const std::vector<std::string>& args,
                                                  const std::string& cwd, std::size_t stderr_keep,
                                                  const ChildWatch& watch) {
  auto spawn_fault = [](int errnum) { return std::unexpected(ChildFault{ChildFault::Stage::kSpawn, os_error_text(errnum)}); };
  auto has_nul = [](const std::string& s) { return s.find('\0') != std::string::npos; };
  bool nul = has_nul(program) || has_nul(cwd);
  for (const std::string& a : args) nul = nul || has_nul(a);
  if (nul) return std::unexpected(ChildFault{ChildFault::Stage::kSpawn, "nul byte found in provided data"});

  auto out_pipe = make_pipe();
  if (!out_pipe) return spawn_fault(out_pipe.error());
  auto err_pipe = make_pipe();
  if (!err_pipe) return spawn_fault(err_pipe.error());
  auto& [out_read, out_write] = *out_pipe;
  auto& [err_read, err_write] = *err_pipe;

  SpawnSetup setup;
  if (int e = setup.prepare(out_write.get(), err_write.get(), cwd.c_str())) return spawn_fault(e);

  std::vector<char*> argv;
  argv.reserve(args.size() + 2);
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  ChildReapingScope reaping;
  pid_t pid;
  // glibc reports a failed exec (missing program, bad directory) through the
  // return value, after the child has already been reaped.
  if (int e = ::posix_spawnp(&pid, program.c_str(), setup.actions(), setup.attr(), argv.data(), environ)) {
    return spawn_fault(e);
  }
  // Our copies of the write ends must go, or the pipes would never report EOF.
  out_write.reset();
  err_write.reset();

  // Readable once the program has terminated; not available on kernels
  // before 5.3, where the pipes alone decide (see drain). Called through
  // syscall(): glibc 2.36's <sys/pidfd.h> lacks C linkage for C++.
  Fd exited(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
  auto tail = drain(std::move(out_read), std::move(err_read), exited.get(), stderr_keep, watch);

  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno == EINTR) continue;
    // ECHILD: something else in the process reaped our child (a SIGCHLD
    // handler that waits for any child). The exit status is lost, and a build
    // whose outcome is unknown must not pass for a successful one.
    return std::unexpected(ChildFault{ChildFault::Stage::kWait, os_error_text(errno)});
  }
  if (!tail) return std::unexpected(ChildFault{ChildFault::Stage::kWait, os_error_text(tail.error())});

  ChildOutcome outcome;
  outcome.succeeded = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  outcome.stderr_tail = std::move(*tail);
  return outcome;
}

}  // namespace velkor::build
