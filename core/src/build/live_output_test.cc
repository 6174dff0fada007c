#include "build/live_output.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <utility>

namespace velkor::build {
namespace {

// Everything `fd` yields until it has been quiet for a while, with `shown`
// given a chance to write what waits before each read, and `late` (when
// given) sent to it once the reader has taken something.
std::string read_until_quiet(int fd, LiveOutput& shown, const std::string* late = nullptr) {
  std::string got;
  char buf[65536];
  for (int quiet = 0; quiet < 3;) {
    shown.tick();
    pollfd p{fd, POLLIN, 0};
    const ssize_t n = ::poll(&p, 1, 100) > 0 ? ::read(fd, buf, sizeof buf) : 0;
    quiet = n > 0 ? 0 : quiet + 1;
    if (n > 0) got.append(buf, static_cast<std::size_t>(n));
    if (n <= 0 || late == nullptr) continue;
    shown.tick();  // room for it now
    shown.output(*std::exchange(late, nullptr));
  }
  return got;
}

// A reader that stops reading must never hold the writer (the build would
// stall with cargo's pipes full); once it reads again it gets what was kept,
// one line for the gap, and what came after.
TEST(LiveOutputTest, AReaderThatStopsReadingLosesAGapMarkedOnce) {
  enum class Sink { kTerminalNotRead, kTerminalStopped, kPipeNotRead, kSocketNotRead };
  const std::string line = std::string(63, 'x') + "\n";
  std::string piece;
  for (int i = 0; i < 1024; ++i) piece += line;  // 64 KiB, whole lines
  constexpr int kPieces = 16;
  for (const Sink sink : {Sink::kTerminalNotRead, Sink::kTerminalStopped, Sink::kPipeNotRead, Sink::kSocketNotRead}) {
    SCOPED_TRACE(static_cast<int>(sink));
    int reader = -1, writer = -1;
    if (sink == Sink::kTerminalNotRead || sink == Sink::kTerminalStopped) {
      reader = ::posix_openpt(O_RDWR | O_NOCTTY);
      ASSERT_TRUE(::grantpt(reader) == 0 && ::unlockpt(reader) == 0);
      writer = ::open(::ptsname(reader), O_RDWR | O_NOCTTY);
      termios raw;
      ::tcgetattr(writer, &raw);
      ::cfmakeraw(&raw);  // bytes as written, no CR added to a LF
      ::tcsetattr(writer, TCSANOW, &raw);
      if (sink == Sink::kTerminalStopped) ::tcflow(writer, TCOOFF);
    } else {
      int ends[2];
      ASSERT_EQ(sink == Sink::kPipeNotRead ? ::pipe(ends) : ::socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
      reader = ends[0];
      writer = ends[1];
    }
    ::fcntl(reader, F_SETFL, O_NONBLOCK);  // the reader's own description; the writer's stays blocking
    ::alarm(60);                           // a write that waits ends the test here
    std::string got;
    {
      LiveOutput shown(writer, {.stream = true}, "btc_usd");
      for (int i = 0; i < kPieces; ++i) shown.output(piece);
      if (sink == Sink::kTerminalStopped) ::tcflow(writer, TCOON);
      // A piece that comes while the kept output is being written out still
      // belongs to the gap.
      const std::string late(piece.size(), '\n');
      got = read_until_quiet(reader, shown, &late);
      shown.output("after\n");
      shown.finish();
      got += read_until_quiet(reader, shown);
    }
    ::alarm(0);
    EXPECT_EQ(::fcntl(writer, F_GETFL) & O_NONBLOCK, 0);  // the shared description is left as it was
    const std::size_t marker = got.find("[velkor-compile: ");
    ASSERT_NE(marker, std::string::npos);
    ASSERT_GT(marker, 0u);
    const std::size_t dropped = (kPieces + 1) * piece.size() - marker;
    std::string kept;  // whole pieces are kept, whole pieces dropped
    for (std::size_t i = 0; i < marker / piece.size(); ++i) kept += piece;
    EXPECT_EQ(got, kept + "[velkor-compile: " + std::to_string(dropped) +
                       " bytes of cargo output dropped: standard error was not being read]\nafter\n");
    ::close(reader);
    ::close(writer);
  }
}

}  // namespace
}  // namespace velkor::build
