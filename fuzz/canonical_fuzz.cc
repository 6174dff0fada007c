// Canonical text, differentially: for any document the reader accepts,
// - the canonical text reads back as a value equal to the original up to the
//   order of object members (the same members, kinds and double bit patterns);
// - its own canonical text is itself (canonical form is idempotent);
// - the chunked writer, with a small chunk size, produces the same bytes;
// - the text is compact: no byte outside strings is JSON whitespace.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "canonical/canonical.h"
#include "fuzz_support.h"
#include "json/reader.h"
#include "json/test_support_json.h"
#include "support/chunked_writer.h"

namespace {

using velkor::fuzz::check;
using namespace velkor::json;

// Equality that ignores member order, walked with an explicit stack so that
// deep documents cannot exhaust the C++ stack.
bool same_ignoring_member_order(const Value& a, const Value& b) {
  std::vector<std::pair<const Value*, const Value*>> todo{{&a, &b}};
  while (!todo.empty()) {
    auto [x, y] = todo.back();
    todo.pop_back();
    if (x->kind() != y->kind()) return false;
    switch (x->kind()) {
      case Kind::kArray: {
        const Array& xs = x->as_array();
        const Array& ys = y->as_array();
        if (xs.size() != ys.size()) return false;
        for (std::size_t i = 0; i < xs.size(); ++i) todo.emplace_back(&xs[i], &ys[i]);
        break;
      }
      case Kind::kObject: {
        const Object& xs = x->as_object();
        const Object& ys = y->as_object();
        if (xs.size() != ys.size()) return false;
        for (const Member& m : xs) {
          const Value* other = ys.find(m.key);
          if (other == nullptr) return false;
          todo.emplace_back(&m.value, other);
        }
        break;
      }
      default:
        if (!(*x == *y)) return false;
    }
  }
  return true;
}

bool compact_outside_strings(std::string_view text) {
  bool in_string = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (in_string) {
      if (c == '\\') ++i;
      else if (c == '"') in_string = false;
      continue;
    }
    if (c == '"') in_string = true;
    if (c == ' ' || c == '\n' || c == '\r' || c == '\t') return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto value = parse_document(text, Reader::Depth::kUnlimited);
  if (!value) return 0;

  const std::string canonical = velkor::canonical_json(*value);
  check(compact_outside_strings(canonical), "canonical text is compact", canonical);

  auto reread = parse_document(canonical, Reader::Depth::kUnlimited);
  check(reread.has_value(), "canonical text reads back", canonical);
  check(same_ignoring_member_order(*value, *reread), "canonical text keeps the value", canonical);
  check(velkor::canonical_json(*reread) == canonical, "canonical form is idempotent", canonical);

  std::string chunked;
  std::size_t chunks = 0;
  velkor::ChunkedWriter writer(
      [&](std::string_view chunk) {
        check(!chunk.empty(), "the sink never sees an empty chunk");
        chunked.append(chunk);
        ++chunks;
      },
      7);
  // Uneven pieces, as the spec hash feeds it.
  for (std::size_t at = 0, step = 1; at < canonical.size(); at += step, step = step % 13 + 1) {
    writer.write_text(std::string_view(canonical).substr(at, step));
  }
  writer.flush();
  check(chunked == canonical, "the chunked writer passes the text on unchanged", canonical);
  return 0;
}
