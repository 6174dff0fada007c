#include "digest/spec_hash.h"

#include <gtest/gtest.h>

#include "json/reader.h"

#include <string>
#include <utility>

#include "canonical/canonical.h"
#include "digest/sha256.h"

namespace velkor::digest {
namespace {

using json::Array;
using json::Object;
using json::Value;

Value sample_strategy(bool integer_qty = true) {
  Object sizing;
  sizing.set("qty", integer_qty ? Value::unsigned_integer(1) : Value::floating(1.0));
  sizing.set("kind", Value::string("fixed"));
  Object o;
  o.set("timeframe", Value::string("1h"));
  o.set("symbol", Value::string("BTC/USDT"));
  o.set("sizing", Value::object(std::move(sizing)));
  return Value::object(std::move(o));
}

Value sample_candles() {
  Array candles;
  for (int i = 0; i < 3; ++i) {
    Object c;
    c.set("t", Value::unsigned_integer(1700000000000ULL + i));
    c.set("o", Value::floating(101.25 + i));
    c.set("c", Value::floating(-0.0));
    candles.push_back(Value::object(std::move(c)));
  }
  return Value::array(std::move(candles));
}

// The compile specification object built as a value, members deliberately in a
// non-canonical order, so that its canonical text is an independent reference.
Value spec_object(const CompileSpec& spec) {
  static const char* const kOptLevels[] = {"debug", "release", "size"};
  static const char* const kTargets[] = {"wasm", "binary", "no_std"};
  Object target;
  if (spec.target.kind == TargetKind::kNoStd) target.set("mcu", Value::string(spec.target.mcu));
  target.set("kind", Value::string(kTargets[static_cast<int>(spec.target.kind)]));
  Object o;
  o.set("target", Value::object(std::move(target)));
  o.set("strategy", spec.strategy.clone());
  if (spec.embed_data) {
    Object data;
    if (spec.embed_data->kind == DatasetRef::Kind::kCsv) {
      data.set("path", Value::string(spec.embed_data->path));
      data.set("kind", Value::string("csv"));
    } else {
      data.set("kind", Value::string("inline"));
      data.set("candles", std::move(*json::parse_document(spec.embed_data->candles_json)));
    }
    o.set("embed_data", Value::object(std::move(data)));
  }
  o.set("opt_level", Value::string(kOptLevels[static_cast<int>(spec.opt_level)]));
  if (spec.crate_name) o.set("crate_name", Value::string(*spec.crate_name));
  return Value::object(std::move(o));
}

struct SpecCase {
  const char* name;
  TargetKind target;
  const char* mcu;
  OptLevel opt_level;
  const char* crate_name;  // null: not requested
  int embed;               // 0 none, 1 csv, 2 inline
  const char* csv_path;
};

CompileSpec make_spec(const SpecCase& c) {
  CompileSpec spec;
  spec.strategy = sample_strategy();
  spec.target = Target{c.target, c.mcu};
  spec.opt_level = c.opt_level;
  if (c.crate_name != nullptr) spec.crate_name = c.crate_name;
  if (c.embed == 1) spec.embed_data = DatasetRef{DatasetRef::Kind::kCsv, c.csv_path, ""};
  if (c.embed == 2) spec.embed_data = DatasetRef{DatasetRef::Kind::kInline, "", canonical_json(sample_candles())};
  return spec;
}

class SpecHashTest : public testing::TestWithParam<SpecCase> {};

TEST_P(SpecHashTest, HashesTheCanonicalSpecificationObject) {
  const CompileSpec spec = make_spec(GetParam());
  const std::string expected = sha256_hex(canonical_json(spec_object(spec))).value();
  const std::string strategy = canonical_json(spec.strategy);
  std::optional<std::string> candles;
  if (spec.embed_data && spec.embed_data->kind == DatasetRef::Kind::kInline) {
    candles = spec.embed_data->candles_json;
  }
  EXPECT_EQ(spec_hash(spec, strategy, candles), expected);
  // Inline candles not yet canonicalised by the caller give the same digest.
  EXPECT_EQ(spec_hash(spec, strategy, std::nullopt), expected);
  // Hashing the candles file along the way changes nothing and gives its digest.
  Sha256 candles_digest;
  EXPECT_EQ(spec_hash(spec, strategy, candles, &candles_digest), expected);
  EXPECT_EQ(hex(candles_digest.finish().value()), sha256_hex(candles.value_or("")));
}

INSTANTIATE_TEST_SUITE_P(
    Specs, SpecHashTest,
    testing::Values(SpecCase{"wasm_release", TargetKind::kWasm, "", OptLevel::kRelease, nullptr, 0, ""},
                    SpecCase{"binary_debug_named", TargetKind::kBinary, "", OptLevel::kDebug, "demo", 0, ""},
                    SpecCase{"no_std_size", TargetKind::kNoStd, "thumbv6m-none-eabi", OptLevel::kSize, nullptr, 0, ""},
                    SpecCase{"csv_path_escaped", TargetKind::kBinary, "", OptLevel::kRelease, "q\"uote",
                             1, "data/\xc3\xa4\\x\n.csv"},
                    SpecCase{"inline_candles", TargetKind::kWasm, "", OptLevel::kSize, "demo", 2, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SpecHashTest, NoStdExampleHashesTheDocumentedText) {
  CompileSpec spec;
  spec.strategy = sample_strategy();
  spec.target = Target{TargetKind::kNoStd, "thumbv7em-none-eabihf"};
  spec.opt_level = OptLevel::kSize;
  spec.crate_name = "demo";
  const std::string strategy = canonical_json(spec.strategy);
  const std::string text = "{\"crate_name\":\"demo\",\"opt_level\":\"size\",\"strategy\":" + strategy +
                           ",\"target\":{\"kind\":\"no_std\",\"mcu\":\"thumbv7em-none-eabihf\"}}";
  EXPECT_EQ(spec_hash(spec, strategy, std::nullopt), sha256_hex(text).value());
}

TEST(SpecHashTest, DistinguishesWhatTheRequestSaid) {
  CompileSpec base;
  base.strategy = sample_strategy();
  const std::string strategy = canonical_json(base.strategy);
  const std::string unnamed = spec_hash(base, strategy, std::nullopt).value();

  // A requested name equal to the derived one still enters the digest.
  base.crate_name = "btc_usdt";
  EXPECT_NE(spec_hash(base, strategy, std::nullopt), unnamed);
  base.crate_name.reset();

  // 1 and 1.0 are different numbers.
  EXPECT_NE(spec_hash(base, canonical_json(sample_strategy(false)), std::nullopt), unnamed);
  EXPECT_EQ(spec_hash(base, canonical_json(sample_strategy(true)), std::nullopt), unnamed);
}

}  // namespace
}  // namespace velkor::digest
