// The JSON reader on arbitrary bytes. Besides not crashing, leaking or
// overflowing the stack at any depth, it must agree with itself:
// - a document accepted with the request depth limit is accepted without it,
//   and gives the same value;
// - skipping a value accepts whatever reading it accepts;
// - an accepted value, written compactly and read again, is the same value
//   (kinds, member order and double bit patterns included), and writing it
//   again gives the same text;
// - a fault carries a position inside the text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "json/test_support_json.h"
#include "json/reader.h"

namespace {

using velkor::fuzz::check;
using namespace velkor::json;

bool skips(std::string_view text, Reader::Depth depth) {
  Reader reader(text, depth);
  return reader.skip_value().has_value() && reader.end_of_text().has_value();
}

void check_fault_position(std::string_view text, const ReadError& error) {
  check(error.positioned(), "a document fault has a position", text);
  std::size_t lines = 1;
  for (char c : text) lines += c == '\n';
  check(error.line <= lines, "the fault line lies inside the text", text);
  check(!error.description.empty(), "a fault has a description", text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  auto limited = parse_document(text, Reader::Depth::kLimited);
  auto unlimited = parse_document(text, Reader::Depth::kUnlimited);
  if (!unlimited) {
    check_fault_position(text, unlimited.error());
    check(!limited, "the depth limit only takes documents away", text);
    check_fault_position(text, limited.error());
    return 0;
  }
  check(skips(text, Reader::Depth::kUnlimited), "skipping accepts what reading accepts", text);
  if (limited) {
    check(*limited == *unlimited, "the depth limit does not change a value", text);
    check(skips(text, Reader::Depth::kLimited), "skipping accepts what reading accepts (limited)", text);
  } else {
    check_fault_position(text, limited.error());
  }

  std::string written;
  write_compact(written, *unlimited);
  auto reread = parse_document(written, Reader::Depth::kUnlimited);
  check(reread.has_value(), "compact text reads back", written);
  check(*reread == *unlimited, "compact text reads back as the same value", written);
  std::string rewritten;
  write_compact(rewritten, *reread);
  check(rewritten == written, "compact text is a fixed point", written);
  return 0;
}
