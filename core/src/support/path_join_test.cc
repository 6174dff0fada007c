#include "support/path_join.h"

#include <gtest/gtest.h>

namespace velkor {
namespace {

TEST(PathJoin, Join) {
  struct Case {
    std::string_view base, tail, expected;
  } const cases[] = {
      {"_out", "demo", "_out/demo"},
      {"_out/", "demo", "_out/demo"},
      {"", "demo", "demo"},
      {"/", "demo", "/demo"},
      {"_out", "/abs", "/abs"},
  };
  for (const Case& c : cases) EXPECT_EQ(join_path(c.base, c.tail), c.expected) << c.base << " + " << c.tail;
}

TEST(PathJoin, Parent) {
  struct Case {
    std::string_view path, expected;
  } const cases[] = {
      {"_out/demo/.cargo/config.toml", "_out/demo/.cargo"},
      {"Cargo.toml", ""},
      {"/Cargo.toml", "/"},
      {"a/b/", "a"},
      {"/", "/"},
  };
  for (const Case& c : cases) EXPECT_EQ(parent_path(c.path), c.expected) << c.path;
}

}  // namespace
}  // namespace velkor
