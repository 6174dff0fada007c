// Test-only: builds json::Value fixtures from JSON text with the real reader
// (so number kinds and repeated keys behave exactly as in requests, and values
// may nest as deep as the tests need). Malformed fixture text fails the
// current test and yields null.
#ifndef VELKOR_STRATEGY_TEST_SUPPORT_STRATEGY_H_
#define VELKOR_STRATEGY_TEST_SUPPORT_STRATEGY_H_

#include <gtest/gtest.h>

#include <string_view>

#include "json/reader.h"
#include "json/value.h"

namespace velkor::strategy::testing {

inline json::Value parse_json(std::string_view text) {
  auto value = json::parse_document(text, json::Reader::Depth::kUnlimited);
  if (!value) {
    ADD_FAILURE() << "bad fixture JSON: " << value.error().text() << "\n" << text;
    return json::Value();
  }
  return std::move(*value);
}

}  // namespace velkor::strategy::testing

#endif  // VELKOR_STRATEGY_TEST_SUPPORT_STRATEGY_H_
