#include "build/escape_filter.h"

#include <gtest/gtest.h>

#include <string>

namespace velkor::build {
namespace {

// Each text is also fed in two pieces cut at every byte: a sequence split
// between reads must still be removed whole.
TEST(EscapeFilter, KeepsOnlyThePlainText) {
  struct Case {
    std::string coloured, plain;
  } const cases[] = {
      {"\x1b[1m\x1b[32m   Compiling\x1b[0m demo v0.1.0\n", "   Compiling demo v0.1.0\n"},
      {"\x1b[38;5;12m-->\x1b[0m src/lib.rs:1:5\x1b[K", "--> src/lib.rs:1:5"},
      {"see \x1b]8;;https://x.test/a\x1b\\link\x1b]8;;\x07 here", "see link here"},
      {"\x1b(Bplain \xc3\xa9\ttab\r\n", "plain \xc3\xa9\ttab\r\n"},
  };
  for (const Case& c : cases) {
    for (std::size_t cut = 0; cut <= c.coloured.size(); ++cut) {
      SCOPED_TRACE(testing::Message() << c.plain << " cut at " << cut);
      EscapeFilter filter;
      std::string out;
      filter.append_plain(c.coloured.substr(0, cut), out);
      filter.append_plain(c.coloured.substr(cut), out);
      EXPECT_EQ(out, c.plain);
    }
  }
}

}  // namespace
}  // namespace velkor::build
