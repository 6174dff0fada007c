#include "build/child_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>

#include "support/test_support_files.h"

namespace velkor::build {
namespace {

std::expected<ChildOutcome, CompileError> run_sh(const std::string& script) {
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
    ASSERT_TRUE(run.has_value()) << run.error().message;
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
    EXPECT_EQ(run.error().display(), "build: spawning " + c.program + ": " + c.cause);
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
    ASSERT_TRUE(failed.has_value()) << failed.error().message;
    EXPECT_FALSE(failed->succeeded);
    EXPECT_EQ(failed->stderr_tail, "failing\n");
    // The child starts with SIGPIPE and SIGCHLD at their defaults even though
    // the host ignores them.
    auto ok = run_sh("exec grep SigIgn /proc/self/status >&2");
    ASSERT_TRUE(ok.has_value()) << ok.error().message;
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


// True while the process `pid` exists and is not a zombie.
bool running(pid_t pid) {
  const std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
  const std::size_t close = stat.rfind(')');
  return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

// Waits (generously: only a hang fails) until `pid` has ended.
bool ends(pid_t pid) {
  for (int i = 0; i < 1000 && running(pid); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return !running(pid);
}

// Waits until `path` holds a pid, and returns it.
pid_t pid_in(const std::string& path) {
  for (int i = 0; i < 3000; ++i) {
    const std::string text = read_file(path);
    if (!text.empty() && text.back() == '\n') return static_cast<pid_t>(std::stol(text));
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ADD_FAILURE() << "no pid in " << path;
  return 0;
}

// The program leads a process group of its own, so that a terminal's Ctrl-C
// reaches only the caller and the caller can end everything the program
// started by signalling the group.
TEST(ChildProcess, RunsInAProcessGroupOfItsOwn) {
  auto run = run_sh("echo $$ $(ps -o pgid= -p $$) >&2");
  ASSERT_TRUE(run.has_value());
  const std::string pid = run->stderr_tail.substr(0, run->stderr_tail.find(' '));
  std::string group = run->stderr_tail.substr(pid.size() + 1);
  group.erase(0, group.find_first_not_of(' '));
  EXPECT_EQ(group, pid + "\n");
  EXPECT_NE(std::stol(pid), static_cast<long>(::getpgrp()));
}

// Shell lines that write the pid of the last background process and of the
// shell to $DIR/grandchild and $DIR/child, each file appearing whole.
#define WRITE_GRANDCHILD_PID "echo $! > \"$DIR/g\"; mv \"$DIR/g\" \"$DIR/grandchild\"; "
#define WRITE_CHILD_PID "echo $$ > \"$DIR/c\"; mv \"$DIR/c\" \"$DIR/child\"; "

// A stop asked for while the program runs ends it and what it started (a
// compiler it runs, here a grandchild `sleep`), also when they ignore
// SIGTERM, and the run reports it was stopped; a stop that is never asked
// for, or a run that ended by itself first, changes nothing.
TEST(ChildProcess, AStopEndsTheProgramAndWhatItStarted) {
  struct Case {
    const char* name;
    const char* script;  // $DIR/child and $DIR/grandchild receive the pids
    bool stop;
    bool stopped;
    bool succeeded;
  } const cases[] = {
      {"stopped", "sleep 600 & " WRITE_GRANDCHILD_PID WRITE_CHILD_PID "wait", true, true, false},
      {"stopped, SIGTERM ignored",
       "trap '' TERM; sh -c 'trap \"\" TERM; sleep 600 & wait' & " WRITE_GRANDCHILD_PID WRITE_CHILD_PID
       "while :; do sleep 1; done",
       true, true, false},
      {"never asked to stop", WRITE_CHILD_PID "echo $$ > \"$DIR/grandchild\"", false, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    ::setenv("DIR", dir.path().c_str(), 1);
    ChildWatch watch;
    int asked = 0;
    // Stops once both pids are written, so that the grandchild exists.
    watch.stop_requested = [&] {
      ++asked;
      return c.stop && std::filesystem::exists(dir.path() + "/child") &&
             std::filesystem::exists(dir.path() + "/grandchild");
    };
    auto run = run_child("sh", {"-c", c.script}, "/", 8192, watch);
    ::unsetenv("DIR");
    ASSERT_TRUE(run.has_value()) << run.error().message;
    EXPECT_EQ(run->stopped, c.stopped);
    EXPECT_EQ(run->succeeded, c.succeeded);
    if (c.stop) EXPECT_GE(asked, 1);
    EXPECT_TRUE(ends(pid_in(dir.path() + "/child")));
    EXPECT_TRUE(ends(pid_in(dir.path() + "/grandchild")));
    expect_no_zombie();
  }
}

// A callback that throws leaves no program running or unreaped: the group is
// killed before the exception goes on.
TEST(ChildProcess, AThrowingCallbackLeavesNothingRunning) {
  TempDir dir;
  ChildWatch watch;
  watch.stop_requested = [&]() -> bool {
    if (std::filesystem::exists(dir.path() + "/child")) throw std::runtime_error("hook failed");
    return false;
  };
  ::setenv("DIR", dir.path().c_str(), 1);
  EXPECT_THROW(run_child("sh", {"-c", "sleep 600 & " WRITE_GRANDCHILD_PID WRITE_CHILD_PID "wait"}, "/", 8192, watch),
               std::runtime_error);
  ::unsetenv("DIR");
  EXPECT_TRUE(ends(pid_in(dir.path() + "/child")));
  EXPECT_TRUE(ends(pid_in(dir.path() + "/grandchild")));
  expect_no_zombie();
}

// A caller killed outright (no chance to stop anything) takes the program
// with it: here the caller is a forked copy of this test killed with SIGKILL
// while its program sleeps.
TEST(ChildProcess, TheProgramDiesWithItsCaller) {
  TempDir dir;
  const std::string pid_file = dir.path() + "/child";
  const pid_t caller = ::fork();
  if (caller == 0) {
    run_child("sh", {"-c", "echo $$ > \"" + pid_file + "\"; exec sleep 600"}, "/", 8192);
    ::_exit(0);
  }
  ASSERT_GT(caller, 0);
  const pid_t program = pid_in(pid_file);
  ASSERT_EQ(::kill(caller, SIGKILL), 0);
  ASSERT_EQ(::waitpid(caller, nullptr, 0), caller);
  EXPECT_TRUE(ends(program));
}

// Standard output is kept only when asked for, and bounded.
TEST(ChildProcess, KeepsStandardOutputWhenAsked) {
  for (const bool keep : {false, true}) {
    SCOPED_TRACE(keep);
    ChildWatch watch;
    watch.keep_stdout = keep;
    auto run = run_child("sh", {"-c", "echo out; echo err >&2"}, "/", 8192, watch);
    ASSERT_TRUE(run.has_value());
    EXPECT_EQ(run->stdout_text, keep ? "out\n" : "");
    EXPECT_EQ(run->stderr_tail, "err\n");
  }
  ChildWatch watch;
  watch.keep_stdout = true;
  auto run = run_child("sh", {"-c", "head -c 20000000 /dev/zero"}, "/", 8192, watch);
  ASSERT_TRUE(run.has_value());
  EXPECT_EQ(run->stdout_text.size(), kStdoutKeep);
}

}  // namespace
}  // namespace velkor::build
