#include "build/stderr_tail.h"

#include "support/utf8_text.h"

namespace velkor::build {

std::string stderr_tail(std::string_view raw, std::size_t limit) {
  std::string text = decode_utf8_lossy(raw);
  if (text.size() <= limit) return text;
  std::size_t cut = text.size() - limit;
  while (cut < text.size() && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) ++cut;
  text.erase(0, cut);
  return text;
}

}  // namespace velkor::build
