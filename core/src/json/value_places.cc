#include "json/value_places.h"

#include <algorithm>
#include <functional>
#include <iterator>

#include "json/reader.h"

namespace velkor::json {

ValuePlaces::ValuePlaces(std::string_view text, const Value& root) {
  Reader reader(text, Reader::Depth::kUnlimited);
  walk(reader, &root, nullptr, 0, Place::kNone);
  for (const Repeat& r : repeats_) {
    if (find(r.object)->value == r.object_at) repeated_.push_back(r.member);
  }
  std::sort(repeated_.begin(), repeated_.end(), std::less<const Value*>());
  repeated_.erase(std::unique(repeated_.begin(), repeated_.end()), repeated_.end());
}

// The text is known to be sound, so every reading below succeeds; a value of
// the document is walked beside its text, and a stretch of text whose value is
// not in the document (an earlier occurrence of a repeated key) beside the
// value that replaced it, or beside nothing when the kinds differ.
void ValuePlaces::walk(Reader& reader, const Value* v, const Value* parent, std::size_t index, std::size_t key) {
  const int c = reader.peek_after_whitespace();
  const std::size_t at = reader.index();
  if (c == '[') {
    const Array* items = v != nullptr && v->is_array() ? &v->as_array() : nullptr;
    reader.eat();
    bool first = true;
    for (std::size_t i = 0; reader.next_element(first).value_or(false); ++i) {
      walk(reader, items != nullptr && i < items->size() ? &(*items)[i] : nullptr, v, i, Place::kNone);
    }
  } else if (c == '{') {
    const Object* object = v != nullptr && v->is_object() ? &v->as_object() : nullptr;
    reader.eat();
    std::size_t next_new = 0;  // members are held in the order of their first occurrence
    for (bool first = true;;) {
      int next = reader.peek_after_whitespace();
      if (next == ',' && !first) {
        reader.eat();
        next = reader.peek_after_whitespace();
      }
      if (next != '"') break;
      first = false;
      const std::size_t key_at = reader.index();
      std::string storage;
      const std::string_view name = reader.parse_string_view(storage).value_or(std::string_view());
      (void)reader.parse_colon();
      const Value* member = nullptr;
      std::size_t member_index = 0;
      if (object != nullptr) {
        const std::vector<Member>& members = object->members();
        if (next_new < members.size() && members[next_new].key == name) {
          member_index = next_new++;
        } else {
          member_index = static_cast<std::size_t>(
              std::find_if(members.begin(), members.end(), [&](const Member& m) { return m.key == name; }) -
              members.begin());
          if (member_index < members.size()) repeats_.push_back(Repeat{&members[member_index].value, v, at});
        }
        if (member_index < members.size()) member = &members[member_index].value;
      }
      walk(reader, member, v, member_index, key_at);
    }
  } else {
    (void)reader.skip_value(Reader::Depth::kUnlimited);
  }
  const std::size_t end = c == '[' || c == '{' ? reader.index() : at;
  if (c == '[' || c == '{') reader.eat();  // the closing bracket
  if (v != nullptr) places_.emplace_back(v, Place{key, at, end, parent, index});
}

const Place* ValuePlaces::find(const Value* v) const {
  auto by_value = [](const std::pair<const Value*, Place>& a, const std::pair<const Value*, Place>& b) {
    return std::less<const Value*>()(a.first, b.first);
  };
  if (!sorted_) {
    std::stable_sort(places_.begin(), places_.end(), by_value);
    sorted_ = true;
  }
  auto after = std::upper_bound(places_.begin(), places_.end(), std::pair<const Value*, Place>(v, Place{}), by_value);
  if (after == places_.begin() || std::prev(after)->first != v) return nullptr;
  return &std::prev(after)->second;
}

std::string ValuePlaces::pointer(const Value* v) const {
  std::vector<std::string> segments;
  for (const Place* place = find(v); place != nullptr && place->parent != nullptr; place = find(place->parent)) {
    if (!place->parent->is_object()) {
      segments.push_back(std::to_string(place->index));
      continue;
    }
    std::string segment;
    for (char ch : place->parent->as_object().members()[place->index].key) {
      if (ch == '~') {
        segment += "~0";
      } else if (ch == '/') {
        segment += "~1";
      } else {
        segment.push_back(ch);
      }
    }
    segments.push_back(std::move(segment));
  }
  std::string out;
  for (auto it = segments.rbegin(); it != segments.rend(); ++it) {
    out.push_back('/');
    out += *it;
  }
  return out;
}

}  // namespace velkor::json
