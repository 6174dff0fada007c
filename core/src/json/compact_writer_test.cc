#include "json/compact_writer.h"

#include <gtest/gtest.h>

#include "json/test_support_json.h"

#include <string>

namespace velkor::json {
namespace {

std::string compact(const Value& v) {
  std::string out;
  write_compact(out, v);
  return out;
}

TEST(CompactWriterTest, KeepsInsertionOrderAtEveryDepth) {
  Object inner;
  set_member(inner, "z", Value::floating(100.0));
  set_member(inner, "a", Value::array());
  Object outer;
  set_member(outer, "b", Value::object(std::move(inner)));
  set_member(outer, "a", Value::array([] {
    Array a;
    a.push_back(Value::signed_integer(-1));
    a.push_back(Value::string("\xc3\xa4\n"));
    a.push_back(Value::object());
    a.push_back(Value());
    return a;
  }()));
  EXPECT_EQ(compact(Value::object(std::move(outer))), "{\"b\":{\"z\":100.0,\"a\":[]},\"a\":[-1,\"\xc3\xa4\\n\",{},null]}");
}

TEST(CompactWriterTest, NumberFormsMatchTheCanonicalText) {
  Array a;
  a.push_back(Value::unsigned_integer(1));
  a.push_back(Value::floating(1.0));
  a.push_back(Value::floating(1e16));
  a.push_back(Value::floating(-0.000001));
  a.push_back(Value::boolean(true));
  EXPECT_EQ(compact(Value::array(std::move(a))), "[1,1.0,1e+16,-1e-6,true]");
}

TEST(CompactWriterTest, MillionDeepValueDoesNotExhaustTheStack) {
  constexpr int kDeep = 1'000'000;
  Value v = Value::array();
  for (int i = 0; i < kDeep; ++i) {
    Object o;
    set_member(o, "k", std::move(v));
    Array a;
    a.push_back(Value::object(std::move(o)));
    v = Value::array(std::move(a));
  }
  std::string expected;
  for (int i = 0; i < kDeep; ++i) expected += "[{\"k\":";
  expected += "[]";
  for (int i = 0; i < kDeep; ++i) expected += "}]";
  EXPECT_EQ(compact(v), expected);
}

}  // namespace
}  // namespace velkor::json
