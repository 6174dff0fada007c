// Throughput of canonical text written and hashed in one pass, against the raw
// SHA-256 rate on a buffer of the same size, on one core.
//
// The data is a large candle series as inline market data arrives: objects
// with keys inserted as t,o,h,l,c,v (so every object needs sorting), prices as
// doubles with two decimals, timestamps and volumes as integers.
#include <algorithm>
#include <ctime>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "canonical/canonical.h"
#include "canonical/canonical_from_text.h"
#include "digest/sha256.h"
#include "json/test_support_json.h"
#include "json/value.h"

namespace {

using velkor::json::Array;
using velkor::json::Object;
using velkor::json::Value;

constexpr std::size_t kTargetBytes = 100u << 20;
constexpr int kRuns = 5;

double price(double x) { return std::round(x * 100.0) / 100.0; }

Value make_candles(std::size_t count) {
  std::mt19937_64 rng(1);
  std::normal_distribution<double> step(0.0, 0.4);
  std::uniform_real_distribution<double> wick(0.0, 0.8);
  Array candles;
  candles.reserve(count);
  double close = 101.23;
  for (std::size_t i = 0; i < count; ++i) {
    const double open = close;
    close = std::max(1.0, price(open + step(rng)));
    Object c;
    c.reserve(6);
    c.append_unique("t", Value::unsigned_integer(1'700'000'000'000ULL + 60'000ULL * i));
    c.append_unique("o", Value::floating(open));
    c.append_unique("h", Value::floating(price(std::max(open, close) + wick(rng))));
    c.append_unique("l", Value::floating(price(std::min(open, close) - wick(rng))));
    c.append_unique("c", Value::floating(close));
    c.append_unique("v", Value::unsigned_integer(rng() % 1'000'000));
    candles.push_back(Value::object(std::move(c)));
  }
  return Value::array(std::move(candles));
}

struct Timing {
  double min_s;
  double median_s;
};

// CPU time of this thread: the machine is shared, and wall time would count
// the time other processes hold the core.
double thread_seconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

template <class Body>
Timing measure(Body body) {
  std::vector<double> seconds;
  for (int run = 0; run < kRuns; ++run) {
    const double start = thread_seconds();
    body();
    seconds.push_back(thread_seconds() - start);
  }
  std::sort(seconds.begin(), seconds.end());
  return Timing{seconds.front(), seconds[seconds.size() / 2]};
}

}  // namespace

int main() {
  // Size the series from a sample so the canonical text is about kTargetBytes.
  const std::size_t sample_bytes = velkor::canonical_json(make_candles(1000)).size();
  const Value candles = make_candles(kTargetBytes / (sample_bytes / 1000));

  std::string text;
  text.reserve(kTargetBytes + (kTargetBytes >> 3));
  const Timing canonical_only = measure([&] {
    text.clear();
    velkor::append_canonical(text, candles);
  });
  const double mb = static_cast<double>(text.size()) / 1e6;

  // The same walk and number forms without sorting: what the key order costs.
  std::string compact;
  compact.reserve(text.capacity());
  const Timing compact_only = measure([&] {
    compact.clear();
    velkor::json::write_compact(compact, candles);
  });

  std::string streamed_hash;
  std::size_t streamed_bytes = 0;
  const Timing canonical_hash = measure([&] {
    velkor::digest::Sha256 sha;
    const std::string canonical = velkor::canonical_json(candles);
    streamed_bytes = canonical.size();
    sha.update(canonical);
    streamed_hash = velkor::digest::hex(sha.finish().value());
  });

  // How inline data is actually handled: from the received text (here the
  // compact text in insertion order) straight to canonical text, then hashed.
  std::string from_text;
  std::string from_text_hash;
  const Timing transcode_hash = measure([&] {
    velkor::json::Reader reader(compact);
    from_text.clear();
    if (!velkor::append_canonical_from_text(reader, from_text)) from_text.clear();
    from_text_hash = velkor::digest::sha256_hex(from_text).value();
  });

  std::string raw_hash;
  const Timing raw_sha = measure([&] { raw_hash = velkor::digest::sha256_hex(text).value(); });
  if (from_text != text || from_text_hash != raw_hash) {
    std::fprintf(stderr, "canonical text from the received text differs\n");
    return 1;
  }

  if (streamed_bytes != text.size() || streamed_hash != raw_hash) {
    std::fprintf(stderr, "canonical text of the value differs from the whole text\n");
    return 1;
  }

  const double raw_rate = mb / raw_sha.median_s;
  std::printf("canonical text: %.1f MB, %zu candles, %d runs each, thread CPU time\n\n", mb, candles.as_array().size(), kRuns);
  std::printf("%-30s %9s %9s %11s %9s\n", "measure", "min s", "median s", "MB/s (med)", "vs raw");
  auto row = [&](const char* name, Timing t) {
    const double rate = mb / t.median_s;
    std::printf("%-30s %9.3f %9.3f %11.0f %9.2f\n", name, t.min_s, t.median_s, rate, rate / raw_rate);
  };
  row("raw SHA-256 (EVP)", raw_sha);
  row("compact text, insertion order", compact_only);
  row("canonical text only", canonical_only);
  row("canonical + SHA-256", canonical_hash);
  row("from received text + SHA-256", transcode_hash);
  return 0;
}
