#include "build/child_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <string>

#include "support/test_support_files.h"

namespace velkor::build {
namespace {

std::expected<ChildOutcome, ChildFault> run_sh(const std::string& script) {
  return run_child("sh", {"-c", script}, "/", 8192);
}

// No child of the test process may be left unreaped.
void expect_no_zombie() {
  errno = 0;
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

// A program may leave a process running in the background that inherited its
// output pipes (a build server, a daemon it started): the run ends when the
// program exits, with everything the program itself wrote; waiting for the
// pipes to close would hang for as long as that process lives. Output far
// beyond a pipe's capacity on both streams must not stall the run, and only a
// bounded end of standard error is kept.
TEST(ChildProcess, ExitStatusAndStderr) {
  struct Case {
    const char* script;
    bool succeeded;
    std::string stderr_tail;  // or, after "...", its end (the kept tail is 8192 to 3 * 65536 bytes)
  } const cases[] = {
      {"echo out; echo err >&2", true, "err\n"},
      {"printf 'partial' >&2; exit 3", false, "partial"},
      {"exit 256", true, ""},  // the shell truncates to 0: a normal exit with code 0
      {"printf 'before ' >&2; kill -9 $$", false, "before "},
      // Standard input is the null device: reading it ends at once.
      {"cat >&2; readlink /proc/$$/fd/0 >&2", true, "/dev/null\n"},
      // The child starts with no blocked signal.
      {"exec grep SigBlk /proc/self/status >&2", true, "SigBlk:\t0000000000000000\n"},
      {"sleep 600 & echo $! > \"$PIDS/1\"; echo done >&2", true, "done\n"},
      {"sleep 600 >&2 & echo $! > \"$PIDS/2\"; exit 4", false, ""},
      {"sleep 600 & echo $! > \"$PIDS/3\"; head -c 300000 /dev/zero | tr '\\0' e >&2; printf END >&2; exit 1", false,
       "...eeeEND"},
      {"head -c 5000000 /dev/zero | tr '\\0' o & head -c 5000000 /dev/zero | tr '\\0' e >&2; wait; printf END >&2",
       true, "...eeeEND"},
  };
  TempDir dir;
  ::setenv("PIDS", dir.path().c_str(), 1);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    auto run = run_sh(c.script);
    ASSERT_TRUE(run.has_value()) << run.error().cause;
    EXPECT_EQ(run->succeeded, c.succeeded);
    if (!c.stderr_tail.starts_with("...")) {
      EXPECT_EQ(run->stderr_tail, c.stderr_tail);
      continue;
    }
    EXPECT_TRUE(run->stderr_tail.ends_with(c.stderr_tail.substr(3)));
    EXPECT_GE(run->stderr_tail.size(), 8192u);
    EXPECT_LE(run->stderr_tail.size(), 3u * 65536u);
    EXPECT_EQ(run->stderr_tail.find('o'), std::string::npos);
  }
  ::unsetenv("PIDS");
  EXPECT_EQ(std::system(("kill $(cat " + dir.path() + "/*) 2>/dev/null").c_str()), 0);
  expect_no_zombie();
}

TEST(ChildProcess, SpawnFailures) {
  struct Case {
    const char* name;
    std::string program;
    std::string cwd;
    std::string cause;
  } const cases[] = {
      {"missing program", "velkor-no-such-program", "/", "No such file or directory (os error 2)"},
      {"program not executable", "/dev/null", "/", "Permission denied (os error 13)"},
      {"directory is a file", "sh", "/etc/hostname", "Not a directory (os error 20)"},
      {"nul in directory", "sh", std::string("/\0tmp", 5), "nul byte found in provided data"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto run = run_child(c.program, {"-c", "exit 0"}, c.cwd, 8192);
    ASSERT_FALSE(run.has_value());
    EXPECT_EQ(run.error().stage, ChildFault::Stage::kSpawn);
    EXPECT_EQ(run.error().cause, c.cause);
  }
  expect_no_zombie();
}

// Descriptors of the host, even ones opened without close-on-exec, stay out
// of the child: it has exactly 0, 1 and 2.
TEST(ChildProcess, OnlyStandardDescriptorsAreInherited) {
  int leaky = ::open("/dev/null", O_RDONLY);  // deliberately no O_CLOEXEC
  ASSERT_GE(leaky, 3);
  // `exec` so that the listing is of the first program itself, not of a shell
  // that juggles descriptors for its own redirections; 3 is ls reading the listing.
  auto run = run_sh("exec ls /proc/self/fd >&2");
  ::close(leaky);
  ASSERT_TRUE(run.has_value());
  EXPECT_EQ(run->stderr_tail, "0\n1\n2\n3\n");
}

std::atomic<int> handled_signals{0};
void count_signal(int) { handled_signals.fetch_add(1); }

// Hosts set SIGCHLD in all these ways; in each the exit status must still be
// collected, no zombie may remain, and the host's setting must be restored.
TEST(ChildProcess, HostSigchldDispositions) {
  const struct {
    const char* name;
    void (*handler)(int);
    int flags;
  } cases[] = {
      {"ignored", SIG_IGN, 0},
      {"handler without SA_RESTART", count_signal, 0},
      {"handler with SA_NOCLDWAIT", count_signal, SA_NOCLDWAIT | SA_RESTART},
  };
  struct sigaction original, original_pipe, ignore_pipe = {};
  ::sigaction(SIGCHLD, nullptr, &original);
  ignore_pipe.sa_handler = SIG_IGN;
  ::sigaction(SIGPIPE, &ignore_pipe, &original_pipe);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    struct sigaction host = {};
    host.sa_handler = c.handler;
    host.sa_flags = c.flags;
    ASSERT_EQ(::sigaction(SIGCHLD, &host, nullptr), 0);

    auto failed = run_sh("echo failing >&2; exit 7");
    ASSERT_TRUE(failed.has_value()) << failed.error().cause;
    EXPECT_FALSE(failed->succeeded);
    EXPECT_EQ(failed->stderr_tail, "failing\n");
    // The child starts with SIGPIPE and SIGCHLD at their defaults even though
    // the host ignores them.
    auto ok = run_sh("exec grep SigIgn /proc/self/status >&2");
    ASSERT_TRUE(ok.has_value()) << ok.error().cause;
    EXPECT_TRUE(ok->succeeded);
    ASSERT_TRUE(ok->stderr_tail.starts_with("SigIgn:\t"));
    const unsigned long long ignored = std::stoull(ok->stderr_tail.substr(8), nullptr, 16);
    EXPECT_EQ(ignored & (1ull << (SIGPIPE - 1)), 0u) << ok->stderr_tail;
    EXPECT_EQ(ignored & (1ull << (SIGCHLD - 1)), 0u) << ok->stderr_tail;

    struct sigaction after;
    ::sigaction(SIGCHLD, nullptr, &after);
    EXPECT_EQ(after.sa_handler, c.handler);
    EXPECT_EQ(after.sa_flags & SA_NOCLDWAIT, c.flags & SA_NOCLDWAIT);
    ::sigaction(SIGCHLD, &original, nullptr);
    expect_no_zombie();
  }
  ::sigaction(SIGPIPE, &original_pipe, nullptr);
}

}  // namespace
}  // namespace velkor::build
