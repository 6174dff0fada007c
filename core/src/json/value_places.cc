#include "json/value_places.h"

#include <algorithm>
#include <functional>

#include "json/tokenizer.h"
#include "json/value_builder.h"

namespace velkor::json {

// The tokenizer's handler that notes each value of the text as a node, in text
// order, linked to its next sibling.
class PlacesRecorder {
 public:
  PlacesRecorder(std::string_view text, TextPlaces& places) : text_(text), places_(places) {
    places_.nodes_.clear();
    places_.names_.clear();
  }

  void scalar(std::size_t begin) { add(begin, begin); }
  void empty(std::size_t begin, std::size_t end) { add(begin, end); }
  void open(std::size_t begin) { open_.push_back(Open{add(begin, begin), TextPlaces::kNoNode}); }
  void key(std::string_view name, std::size_t begin) {
    key_ = begin;
    if (name.data() >= text_.data() && name.data() <= text_.data() + text_.size()) {
      name_in_text_ = true;
      name_begin_ = static_cast<std::size_t>(name.data() - text_.data());
    } else {
      name_in_text_ = false;
      name_begin_ = places_.names_.size();
      places_.names_.append(name);
    }
    name_size_ = name.size();
  }
  void close(std::size_t at) {
    places_.nodes_[open_.back().node].end = at;
    open_.pop_back();
  }

 private:
  struct Open {
    std::size_t node;
    std::size_t last_child;
  };

  std::size_t add(std::size_t begin, std::size_t end) {
    std::vector<TextPlaces::Node>& nodes = places_.nodes_;
    const std::size_t node = nodes.size();
    nodes.push_back(TextPlaces::Node{key_, begin, end, TextPlaces::kNoNode, false, name_in_text_, name_begin_,
                                     name_size_});
    key_ = Place::kNone;
    name_size_ = 0;
    if (!open_.empty()) {
      Open& parent = open_.back();
      if (parent.last_child == TextPlaces::kNoNode) {
        nodes[parent.node].has_children = true;
      } else {
        nodes[parent.last_child].next_sibling = node;
      }
      parent.last_child = node;
    }
    return node;
  }

  std::string_view text_;
  TextPlaces& places_;
  std::vector<Open> open_;
  // The key of the member whose value comes next.
  std::size_t key_ = Place::kNone;
  bool name_in_text_ = true;
  std::size_t name_begin_ = 0;
  std::size_t name_size_ = 0;
};

namespace {

// Builds the value and records its places from the same tokens.
class BuildAndRecord : public IgnoredTokens {
 public:
  static constexpr bool kDecodeStrings = true;

  BuildAndRecord(const Reader& reader, TextPlaces& places)
      : text_(reader.text()), builder_(reader), recorder_(reader.text(), places) {}

  Value take() { return builder_.take(); }

  void name(std::size_t begin, std::size_t end) {
    builder_.name(begin, end);
    recorder_.scalar(begin);
  }
  void string(std::string_view value, std::size_t begin, std::size_t end) {
    builder_.string(value, begin, end);
    recorder_.scalar(begin);
  }
  ReadResult<void> number(const NumberLiteral& number) {
    if (auto r = builder_.number(number); !r) return r;
    recorder_.scalar(static_cast<std::size_t>(number.text.data() - text_.data()));
    return {};
  }
  void empty(bool is_object, std::size_t begin, std::size_t end) {
    builder_.empty(is_object, begin, end);
    recorder_.empty(begin, end);
  }
  void open_array(std::size_t begin) {
    builder_.open_array(begin);
    recorder_.open(begin);
  }
  bool open_object(Reader& reader, std::size_t begin) {
    builder_.open_object(reader, begin);
    recorder_.open(begin);
    return false;
  }
  void key(std::string_view key, std::size_t begin) {
    builder_.key(key, begin);
    recorder_.key(key, begin);
  }
  void close(bool is_object, std::size_t at) {
    builder_.close(is_object, at);
    recorder_.close(at);
  }

 private:
  std::string_view text_;
  ValueBuilder builder_;
  PlacesRecorder recorder_;
};

}  // namespace

ReadResult<Value> parse_document_with_places(std::string_view text, TextPlaces& places, Reader::Depth depth,
                                             int levels) {
  Reader reader(text, depth, levels);
  BuildAndRecord handler(reader, places);
  if (auto walked = Tokenizer(reader, handler).walk(); !walked) return std::unexpected(walked.error());
  if (auto end = reader.end_of_text(); !end) return std::unexpected(end.error());
  return handler.take();
}

ValuePlaces::ValuePlaces(std::string_view text, const TextPlaces& places, const Value& root)
    : text_(text), places_(places), root_(&root) {
  finding_repeats_ = true;
  walk([](const Visit&) {});
  finding_repeats_ = false;
  std::sort(repeated_.begin(), repeated_.end(), std::less<const Value*>());
  repeated_.erase(std::unique(repeated_.begin(), repeated_.end()), repeated_.end());
}

void ValuePlaces::locate(std::vector<const Value*> values) {
  std::sort(values.begin(), values.end(), std::less<const Value*>());
  values.erase(std::unique(values.begin(), values.end()), values.end());
  located_.clear();
  links_.clear();
  // The value visited and its ancestors, the root first.
  std::vector<Visit> ancestors;
  walk([&](const Visit& at) {
    ancestors.resize(at.depth);
    ancestors.push_back(at);
    if (!std::binary_search(values.begin(), values.end(), at.value, std::less<const Value*>())) return;
    located_[at.value] = at.place;
    // The value and its ancestors get their parent and index, from the
    // innermost out, until one that has them already.
    for (auto it = ancestors.rbegin(); it != ancestors.rend(); ++it) {
      if (!links_.try_emplace(it->value, it->place.parent, it->place.index).second) return;
    }
  });
}

// Visits every value of the document, each with the node of its text (a
// member given twice: its last occurrence, whose value the object holds), from
// an explicit work list.
template <typename Visitor>
void ValuePlaces::walk(Visitor&& visit) {
  const TextPlaces::Node& root = places_.nodes().front();
  std::vector<Visit> work{Visit{root_, 0, Place{Place::kNone, root.value, root.end, nullptr, 0}, 0}};
  while (!work.empty()) {
    const Visit at = work.back();
    work.pop_back();
    visit(at);
    add_children(at, work);
  }
}

void ValuePlaces::add_children(const Visit& at, std::vector<Visit>& work) {
  const std::vector<TextPlaces::Node>& nodes = places_.nodes();
  if (!nodes[at.node].has_children) return;
  auto visit_later = [&](const Value* child, std::size_t node, std::size_t index) {
    const TextPlaces::Node& n = nodes[node];
    work.push_back(Visit{child, node, Place{n.key, n.value, n.end, at.value, index}, at.depth + 1});
  };
  if (at.value->is_array()) {
    const Array& items = at.value->as_array();
    std::size_t i = 0;
    for (std::size_t n = at.node + 1; n != TextPlaces::kNoNode && i < items.size(); n = nodes[n].next_sibling, ++i) {
      visit_later(&items[i], n, i);
    }
    return;
  }
  if (!at.value->is_object()) return;
  const Object& object = at.value->as_object();
  last_nodes_.assign(object.size(), TextPlaces::kNoNode);
  std::size_t next_new = 0;
  for (std::size_t n = at.node + 1; n != TextPlaces::kNoNode; n = nodes[n].next_sibling) {
    const std::size_t expected = next_new;
    const std::size_t found = member_index(object, places_.name(text_, nodes[n]), next_new);
    if (found >= object.size()) continue;
    if (found != expected && finding_repeats_) repeated_.push_back(&object.members()[found].value);
    last_nodes_[found] = n;
  }
  for (std::size_t m = 0; m < object.size(); ++m) {
    if (last_nodes_[m] != TextPlaces::kNoNode) visit_later(&object.members()[m].value, last_nodes_[m], m);
  }
}

// Members are held in the order of their keys' first occurrence, so the nodes
// of a sound object meet them in turn (`next_new`); any other key is looked
// up: a repeated key.
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
