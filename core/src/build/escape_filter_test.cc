#include "build/escape_filter.h"

#include <gtest/gtest.h>

#include <string>

namespace velkor::build {
namespace {

// Each text is fed in two pieces cut at every byte: a sequence split between
// reads must still be removed whole.
TEST(EscapeFilter, KeepsOnlyThePlainText) {
  const std::pair<std::string, std::string> cases[] = {
      {"\x1b[1m\x1b[38;5;12m   Compiling\x1b[0m demo\x1b[K\n", "   Compiling demo\n"},
      {"see \x1b]8;;https://x.test/a\x1b\\link\x1b]8;;\x07 here", "see link here"},
      {"\x1b(Bplain \xc3\xa9\ttab\r\n", "plain \xc3\xa9\ttab\r\n"},
      // A stray ESC before a byte no escape has is dropped alone.
      {"warning\x1b\nerror\x1b\x1b\x1b[0m \x1b(\xc3\xa9 \x1b\x7f.", "warning\nerror \xc3\xa9 \x7f."},
  };
  for (const auto& [coloured, plain] : cases) {
    for (std::size_t cut = 0; cut <= coloured.size(); ++cut) {
      EscapeFilter filter;
      std::string out;
      filter.append_plain(coloured.substr(0, cut), out);
      filter.append_plain(coloured.substr(cut), out);
      EXPECT_EQ(out, plain) << "cut at " << cut;
    }
  }
}

}  // namespace
}  // namespace velkor::build
