#include "canonical/canonical_from_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <string>

#include "canonical/canonical.h"

namespace velkor {
namespace {

// What the text-to-text path must always equal: read a value, write its canonical text.
std::string via_value(std::string_view text) {
  auto value = json::parse_document(text);
  return value ? canonical_json(*value) : "fault: " + value.error().text();
}

std::string via_text(std::string_view text) {
  json::Reader reader(text);
  std::string out;
  auto r = append_canonical_from_text(reader, out);
  if (r) r = reader.end_of_text();
  // Streamed, the pieces make the same text and the reading the same fault.
  json::Reader streamed_reader(text);
  std::string pieces, staging;
  const TextSink sink = [&](std::string_view piece) { pieces.append(piece); };
  auto streamed = append_canonical_from_text(streamed_reader, staging, &sink);
  if (streamed) streamed = streamed_reader.end_of_text();
  EXPECT_EQ(streamed.has_value(), r.has_value()) << text;
  if (r) EXPECT_EQ(pieces, out);
  if (r) EXPECT_TRUE(staging.empty());
  return r ? out : "fault: " + r.error().text();
}

// Random JSON texts in every form the grammar allows: whitespace, escapes,
// repeated keys, number literals written many ways. (Faults are compared over
// the conformance cases below.)
class TextGenerator {
 public:
  explicit TextGenerator(unsigned seed) : rng_(seed) {}

  std::string value(int depth) {
    switch (pick(depth > 4 ? 5 : 7)) {
      case 0: return "null";
      case 1: return pick(2) ? "true" : "false";
      case 2: return number();
      case 3:
      case 4: return string();
      case 5: {
        std::string s = "[" + ws();
        const int n = pick(4);
        for (int i = 0; i < n; ++i) s += (i ? "," + ws() : "") + value(depth + 1) + ws();
        return s + "]";
      }
      default: {
        std::string s = "{" + ws();
        const int n = pick(5);
        for (int i = 0; i < n; ++i) s += (i ? "," + ws() : "") + string() + ws() + ":" + ws() + value(depth + 1) + ws();
        return s + "}";
      }
    }
  }

 private:
  int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
  std::string ws() { return pick(4) == 0 ? std::string(" \n\t\r").substr(pick(4), 1) : ""; }
  std::string string() {
    static const char* pieces[] = {"a", "b", "k", "ä", "\\u00e4", "\\n", "\\u001f", "\\\"", "/", "\\/", "\\ud83d\\ude00", "Z", ""};
    std::string s = "\"";
    const int n = pick(3);
    for (int i = 0; i < n; ++i) s += pieces[pick(13)];
    return s + "\"";
  }
  std::string number() {
    char buf[64];
    switch (pick(5)) {
      case 0: return std::to_string(static_cast<long long>(rng_()) >> pick(64));
      case 1: {
        std::snprintf(buf, sizeof buf, "%.*f", pick(8), std::uniform_real_distribution<double>(-1e6, 1e6)(rng_));
        return buf;
      }
      case 2: {
        std::snprintf(buf, sizeof buf, "%.*e", pick(18), std::uniform_real_distribution<double>(-10, 10)(rng_) *
                                                             std::pow(10.0, pick(600) - 300));
        return buf;
      }
      case 3: {  // any finite bit pattern
        std::uint64_t bits = rng_();
        double d;
        std::memcpy(&d, &bits, sizeof d);
        std::snprintf(buf, sizeof buf, "%.17g", std::isfinite(d) ? d : 0.5);
        return buf;
      }
      default: {
        std::snprintf(buf, sizeof buf, "%d.%02d", pick(100000), pick(100));
        return buf;
      }
    }
  }
  std::mt19937_64 rng_;
};

// Number literals at the edges first, then random texts.
TEST(CanonicalFromText, TextsMatchTheValuePath) {
  for (const char* literal : {"-0", "-0E-3", "1.50", "0.30000000000000000001", "0.000001", "0.00001", "1e15", "1e16",
                              "5e-324", "1.7976931348623157e308", "-1e-400", "18446744073709551616",
                              "-9223372036854775809", "1.23450000000000000000e3", "123e99999999999999",
                              "123e-99999999999999", "1e400"}) {
    EXPECT_EQ(via_text(std::string("[") + literal + "]"), via_value(std::string("[") + literal + "]")) << literal;
  }
  TextGenerator generator(20261206);
  std::string all = "[";
  for (int i = 0; i < 20000; ++i) {
    const std::string text = generator.value(0);
    ASSERT_EQ(via_text(text), via_value(text)) << text;
    all += (i ? "," : "") + text;
  }
  // Together, long enough to be streamed in several pieces.
  all += "]";
  EXPECT_EQ(via_text(all), via_value(all));
}

// Series of objects with the same keys (market data) are read a quicker way
// while each member matches the last object's: every way a member can stop
// matching, and every place a text can be cut short, must come out as the
// general reading has it, faults and positions included.
TEST(CanonicalFromText, SeriesOfLikeObjectsMatchTheValuePath) {
  // The first ten are their own canonical text; the rest are not, or are faults.
  static const char* values[] = {"1", "-7", "101.23", "0.00001", "1700000000000", "123456789012345678", "\"x\"",
                                 "true", "null", "\"2023-11-14T22:13:20Z\"", "-0", "1.50", "2e3",
                                 "98446744073709551616", "-9223372036854775809", "\"\\u0041\"", "\"\\/\"", "\"ä\"",
                                 "\"a byte past one word: \xff\"", "nul", "[1]", "{\"t\":1}", "01", "1.", "-", "truex"};
  static const char* keys[] = {"\"t\"", "\"o\"", "\"c\"", "\"t\\u0000\""};
  static const char* spaces[] = {"", "", "", " ", "\n\t"};
  std::mt19937_64 rng(7);
  auto pick = [&](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
  for (int series = 0; series < 1000; ++series) {
    // Each series is written in one style, now and then departed from.
    const char* style = spaces[pick(5)];
    auto space = [&] { return pick(20) == 0 ? spaces[pick(5)] : style; };
    std::string text = "[";
    for (int i = 0, n = 1 + static_cast<int>(pick(6)); i < n; ++i) {
      text += i == 0 ? "" : pick(40) != 0 ? "," : pick(2) ? " " : ":";
      text += space();
      text += "{";
      for (int k = 0; k < 3; ++k) {
        // Mostly the same keys with canonical values; now and then any key or value.
        text += std::string(k > 0 ? "," : "") + space() + keys[pick(10) == 0 ? pick(4) : k] + space() + ":" +
                space() + values[pick(pick(10) == 0 ? std::size(values) : 10)];
      }
      text += std::string(space()) + (pick(40) == 0 ? "," : "") + "}";
    }
    text += pick(40) == 0 ? ",]" : "]";
    for (std::size_t cut = series % 10 == 0 ? 1 : text.size(); cut <= text.size(); ++cut) {
      ASSERT_EQ(via_text(text.substr(0, cut)), via_value(text.substr(0, cut))) << text.substr(0, cut);
    }
  }
}

// The public conformance suite: every y_ text is read, every n_ text refused
// (i_ texts may go either way), skipping (members nobody reads) gives the same
// verdict, and the text-to-text path agrees with the value path on all.
TEST(CanonicalFromText, ConformanceCases) {
  std::ifstream in(VELKOR_SOURCE_DIR "/../shared/conformance/json-parsing-suite.jsonl");
  if (!in) GTEST_SKIP() << "conformance data not found beside the checkout";
  int cases = 0;
  for (std::string line; std::getline(in, line); ++cases) {
    auto record = json::parse_document(line);
    ASSERT_TRUE(record.has_value()) << line;
    const std::string name(record->as_object().find("name")->as_string());
    const std::string input(record->as_object().find("input")->as_string());
    const std::string canonical = via_value(input);
    if (!name.starts_with("i_")) EXPECT_EQ(canonical.starts_with("fault: "), name.starts_with("n_")) << name;
    json::Reader skipper(input, json::Reader::Depth::kUnlimited);
    const bool skipped =
        skipper.skip_value(json::Reader::Depth::kUnlimited).has_value() && skipper.end_of_text().has_value();
    if (!name.starts_with("i_")) EXPECT_EQ(skipped, name.starts_with("y_")) << name;
    EXPECT_EQ(via_text(input), canonical) << name;
  }
  EXPECT_EQ(cases, 318);
}

}  // namespace
}  // namespace velkor
