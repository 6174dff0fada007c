#include "json/value_places.h"

#include <algorithm>
#include <functional>

#include "json/reader.h"

namespace velkor::json {

ValuePlaces::ValuePlaces(std::string_view text, const Value& root) : text_(text), root_(&root) {
  Reader reader(text, Reader::Depth::kUnlimited);
  walk(reader, &root, nullptr, 0, Place::kNone);
  for (const Repeat& r : repeats_) {
    if (last_walk_.at(r.object) == r.object_at) repeated_.push_back(r.member);
  }
  std::sort(repeated_.begin(), repeated_.end(), std::less<const Value*>());
  repeated_.erase(std::unique(repeated_.begin(), repeated_.end()), repeated_.end());
  repeats_ = {};
  last_walk_ = {};
}

void ValuePlaces::locate(std::vector<const Value*> values) {
  std::sort(values.begin(), values.end(), std::less<const Value*>());
  values.erase(std::unique(values.begin(), values.end()), values.end());
  wanted_ = std::move(values);
  located_.clear();
  links_.clear();
  locating_ = true;
  Reader reader(text_, Reader::Depth::kUnlimited);
  walk(reader, root_, nullptr, 0, Place::kNone);
  locating_ = false;
  wanted_ = {};
}

// Members are held in the order of their keys' first occurrence, so walking
// the text of a sound object meets them in turn (`next_new`); any other key is
// looked up, for a repeated key or a text walked beside a value that replaced it.
std::size_t ValuePlaces::member_index(const Object& object, std::string_view name, std::size_t& next_new) {
  const std::vector<Member>& members = object.members();
  if (next_new < members.size() && members[next_new].key == name) return next_new++;
  std::vector<std::pair<std::string_view, std::size_t>>& sorted = sorted_keys_[&object];
  if (sorted.empty()) {
    sorted.reserve(members.size());
    for (std::size_t i = 0; i < members.size(); ++i) sorted.emplace_back(members[i].key, i);
    std::sort(sorted.begin(), sorted.end());
  }
  auto found = std::lower_bound(sorted.begin(), sorted.end(), std::pair<std::string_view, std::size_t>(name, 0));
  return found != sorted.end() && found->first == name ? found->second : members.size();
}

// The values asked about and their ancestors get their parent and index, the
// walk's open values from the innermost out, until one that has them already.
void ValuePlaces::note_ancestors() {
  for (auto it = open_.rbegin(); it != open_.rend(); ++it) {
    if (!links_.try_emplace(it->first, it->second.parent, it->second.index).second) return;
  }
}

// The text is known to be sound, so every reading below succeeds; a value of
// the document is walked beside its text, and a stretch of text whose value is
// not in the document (an earlier occurrence of a repeated key) beside the
// value that replaced it, or beside nothing when the kinds differ.
void ValuePlaces::walk(Reader& reader, const Value* v, const Value* parent, std::size_t index, std::size_t key) {
  const int c = reader.peek_after_whitespace();
  const std::size_t at = reader.index();
  const bool asked = locating_ && v != nullptr && std::binary_search(wanted_.begin(), wanted_.end(), v,
                                                                     std::less<const Value*>());
  if (locating_ && v != nullptr) {
    open_.emplace_back(v, Place{key, at, at, parent, index});
    if (asked) note_ancestors();
  }
  if (c == '[') {
    const Array* items = v != nullptr && v->is_array() ? &v->as_array() : nullptr;
    reader.eat();
    bool first = true;
    for (std::size_t i = 0; reader.next_element(first).value_or(false); ++i) {
      walk(reader, items != nullptr && i < items->size() ? &(*items)[i] : nullptr, v, i, Place::kNone);
    }
  } else if (c == '{') {
    const Object* object = v != nullptr && v->is_object() ? &v->as_object() : nullptr;
    if (object != nullptr && !locating_ && !last_walk_.empty()) {
      if (auto it = last_walk_.find(v); it != last_walk_.end()) it->second = at;
    }
    reader.eat();
    std::size_t next_new = 0;
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
      std::size_t found = 0;
      if (object != nullptr) {
        const std::size_t expected = next_new;
        found = member_index(*object, name, next_new);
        if (found < object->size()) {
          member = &object->members()[found].value;
          if (found != expected && !locating_) {
            repeats_.push_back(Repeat{member, v, at});
            last_walk_[v] = at;
          }
        }
      }
      walk(reader, member, v, found, key_at);
    }
  } else {
    (void)reader.skip_value(Reader::Depth::kUnlimited);
  }
  const std::size_t end = c == '[' || c == '{' ? reader.index() : at;
  if (c == '[' || c == '{') reader.eat();  // the closing bracket
  if (locating_ && v != nullptr) {
    open_.pop_back();
    if (asked) located_[v] = Place{key, at, end, parent, index};
  }
}

const Place* ValuePlaces::find(const Value* v) const {
  auto found = located_.find(v);
  return found != located_.end() ? &found->second : nullptr;
}

std::string ValuePlaces::pointer(const Value* v) const {
  std::vector<const Value*> chain;  // v and its ancestors below the root
  for (auto link = links_.find(v); link != links_.end() && link->second.first != nullptr;
       link = links_.find(link->second.first)) {
    chain.push_back(link->first);
  }
  std::string out;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    const auto& [parent, index] = links_.at(*it);
    out.push_back('/');
    if (!parent->is_object()) {
      out += std::to_string(index);
      continue;
    }
    // Copied a stretch at a time between the characters to escape.
    const std::string_view key = parent->as_object().members()[index].key;
    std::size_t copied = 0;
    for (std::size_t i = 0; i < key.size(); ++i) {
      if (key[i] != '~' && key[i] != '/') continue;
      out.append(key.substr(copied, i - copied)).append(key[i] == '~' ? "~0" : "~1");
      copied = i + 1;
    }
    out.append(key.substr(copied));
  }
  return out;
}

}  // namespace velkor::json
