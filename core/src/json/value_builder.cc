#include "json/value_builder.h"

#include <algorithm>
#include <cstdint>

#include "json/key_order.h"
#include "json/tokenizer.h"

namespace velkor::json {

void ObjectBuilder::merge_repeated_keys(std::vector<Member>& members) {
  std::vector<KeyOrder> order(members.size());
  for (std::size_t i = 0; i < members.size(); ++i) order[i] = {key_prefix(members[i].key), i};
  // By key, then by position: equal keys end up side by side, first one first.
  std::sort(order.begin(), order.end(), [&](const KeyOrder& a, const KeyOrder& b) {
    if (a.prefix != b.prefix) return a.prefix < b.prefix;
    if (const int c = members[a.index].key.compare(members[b.index].key); c != 0) return c < 0;
    return a.index < b.index;
  });
  std::vector<bool> dropped;
  for (std::size_t run = 0; run < order.size();) {
    const std::string& key = members[order[run].index].key;
    std::size_t last = run;
    while (last + 1 < order.size() && order[last + 1].prefix == order[run].prefix &&
           members[order[last + 1].index].key == key) {
      ++last;
    }
    if (last != run) {
      if (dropped.empty()) dropped.assign(members.size(), false);
      members[order[run].index].value = std::move(members[order[last].index].value);
      for (std::size_t k = run + 1; k <= last; ++k) dropped[order[k].index] = true;
    }
    run = last + 1;
  }
  if (dropped.empty()) return;
  std::size_t kept = 0;
  for (std::size_t i = 0; i < members.size(); ++i) {
    if (dropped[i]) continue;
    if (kept != i) members[kept] = std::move(members[i]);
    ++kept;
  }
  members.erase(members.begin() + static_cast<std::ptrdiff_t>(kept), members.end());
}

ReadResult<void> ValueBuilder::number(const NumberLiteral& number) {
  auto value = reader_.number_value(number);
  if (!value) return std::unexpected(value.error());
  place(std::move(*value));
  return {};
}

ReadResult<Value> build_value(Reader& reader) {
  ValueBuilder builder(reader);
  if (auto walked = Tokenizer(reader, builder).walk(); !walked) return std::unexpected(walked.error());
  return builder.take();
}

}  // namespace velkor::json
