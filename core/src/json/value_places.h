// Where values of a document stand in the text it was read from, for messages
// that point into a file. The places are recorded in the same walk over the
// text that builds the value (parse_document_with_places), as a list of the
// text's values in text order; ValuePlaces then matches that list with the
// built value, without reading the text again and without recursion.
#ifndef VELKOR_JSON_VALUE_PLACES_H_
#define VELKOR_JSON_VALUE_PLACES_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "json/reader.h"
#include "json/value.h"

namespace velkor::json {

struct Place {
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  std::size_t key = kNone;  // the member's key (its opening quote); kNone for the root and array elements
  std::size_t value = 0;    // the value's first byte
  std::size_t end = 0;      // an array's or object's closing bracket; the first byte for other values
  const Value* parent = nullptr;
  std::size_t index = 0;    // the place in the parent: element or member index
};

// The values of a text as the reading met them: their offsets, their keys and
// how they nest.
class TextPlaces {
 public:
  static constexpr std::size_t kNoNode = static_cast<std::size_t>(-1);
  struct Node {
    std::size_t key = Place::kNone;  // offset of the key's opening quote
    std::size_t value = 0;
    std::size_t end = 0;
    std::size_t next_sibling = kNoNode;
    bool has_children = false;  // the first child, when there is one, is the next node
    bool name_in_text = true;   // the key's name: a view of the text, or in `names_`
    std::size_t name_begin = 0;
    std::size_t name_size = 0;
  };

  const std::vector<Node>& nodes() const { return nodes_; }
  std::string_view name(std::string_view text, const Node& node) const {
    return (node.name_in_text ? text : std::string_view(names_)).substr(node.name_begin, node.name_size);
  }

 private:
  friend class PlacesRecorder;
  std::vector<Node> nodes_;
  std::string names_;  // unescaped keys that differ from their literal
};

// Reads a whole text as parse_document does, and records in `places` where its
// values stand, in the same walk.
ReadResult<Value> parse_document_with_places(std::string_view text, TextPlaces& places,
                                             Reader::Depth depth = Reader::Depth::kLimited,
                                             int levels = kRequestDepthLimit);

class ValuePlaces {
 public:
  // `text` and `places` must be what parse_document_with_places read and
  // recorded for `root`; all three must outlive this. Finds the repeated
  // members.
  ValuePlaces(std::string_view text, const TextPlaces& places, const Value& root);

  // Values whose key occurs more than once in its object, sorted by address.
  const std::vector<const Value*>& repeated_members() const { return repeated_; }

  // Finds the places of `values` (values of the document), which `find` and
  // `pointer` then answer for. A key given twice in one object is the place
  // of its last occurrence, whose value the object holds.
  void locate(std::vector<const Value*> values);
  // The place of a located value (nullptr for any other value).
  const Place* find(const Value* v) const;
  // The JSON Pointer of a located value: "" for the root, then "/{key}" or
  // "/{index}" per level, "~" and "/" in keys escaped as "~0", "~1".
  std::string pointer(const Value* v) const;

 private:
  // A value of the document with its node: the node of its key's last
  // occurrence in its object, whose value the object holds.
  struct Visit {
    const Value* value;
    std::size_t node;
    Place place;
    std::size_t depth;
  };
  template <typename Visitor>
  void walk(Visitor&& visit);
  void add_children(const Visit& at, std::vector<Visit>& work);
  std::size_t member_index(const Object& object, std::string_view name, std::size_t& next_new);

  std::string_view text_;
  const TextPlaces& places_;
  const Value* root_;
  // Keys in byte order with their member index, for an object whose text
  // holds a key out of the order of its members (a repeated key).
  std::unordered_map<const Object*, std::vector<std::pair<std::string_view, std::size_t>>> sorted_keys_;
  // Per object child being walked: the node of each member's last occurrence.
  std::vector<std::size_t> last_nodes_;
  bool finding_repeats_ = false;
  std::vector<const Value*> repeated_;

  // Found: the places of the values asked about, and the parent and index of
  // each of them and of their ancestors, for pointers.
  std::unordered_map<const Value*, Place> located_;
  std::unordered_map<const Value*, std::pair<const Value*, std::size_t>> links_;
};

}  // namespace velkor::json

#endif  // VELKOR_JSON_VALUE_PLACES_H_
