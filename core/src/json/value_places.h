// Where values of a document stand in the text it was read from, for messages
// that point into a file. Found by walks over the text beside the value the
// reader built, so that reading for any other purpose stays as fast as it is.
// Each walk reads the text once and keeps nothing per value of the document:
// what it keeps grows with the repeated keys and the values asked about.
#ifndef VELKOR_JSON_VALUE_PLACES_H_
#define VELKOR_JSON_VALUE_PLACES_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

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

class ValuePlaces {
 public:
  // `text` must be the text `root` was read from, whole and without fault
  // (see parse_document); both must outlive this. Walks the text once to find
  // the repeated members.
  ValuePlaces(std::string_view text, const Value& root);

  // Values whose key occurs more than once in its object, sorted by address.
  const std::vector<const Value*>& repeated_members() const { return repeated_; }

  // Walks the text once more to find the places of `values` (values of the
  // document), which `find` and `pointer` then answer for. A key given twice
  // in one object is the place of its last occurrence, whose value the object
  // holds.
  void locate(std::vector<const Value*> values);
  // The place of a located value (nullptr for any other value).
  const Place* find(const Value* v) const;
  // The JSON Pointer of a located value: "" for the root, then "/{key}" or
  // "/{index}" per level, "~" and "/" in keys escaped as "~0", "~1".
  std::string pointer(const Value* v) const;

 private:
  void walk(class Reader& reader, const Value* v, const Value* parent, std::size_t index, std::size_t key);
  std::size_t member_index(const Object& object, std::string_view name, std::size_t& next_new);
  void note_ancestors();

  std::string_view text_;
  const Value* root_;
  // Keys in byte order with their member index, for an object whose text
  // holds a key out of the order of its members (a repeated key); made once
  // per object, so walking beside it again costs no more than the text.
  std::unordered_map<const Object*, std::vector<std::pair<std::string_view, std::size_t>>> sorted_keys_;

  // While finding repeated members: a member found repeated while walking an
  // object that started at `object_at`. An earlier occurrence of an enclosing
  // member is walked beside the value of its last occurrence, so only findings
  // from the last walk of an object count; `last_walk_` holds where that
  // started, for the objects with findings.
  struct Repeat {
    const Value* member;
    const Value* object;
    std::size_t object_at;
  };
  std::vector<Repeat> repeats_;
  std::unordered_map<const Value*, std::size_t> last_walk_;
  std::vector<const Value*> repeated_;

  // While locating: the values asked about (sorted), and the values being
  // walked (the root first) with their places so far. Found: the places of
  // the values asked about, and the parent and index of each of them and of
  // their ancestors, for pointers.
  bool locating_ = false;
  std::vector<const Value*> wanted_;
  std::vector<std::pair<const Value*, Place>> open_;
  std::unordered_map<const Value*, Place> located_;
  std::unordered_map<const Value*, std::pair<const Value*, std::size_t>> links_;
};

}  // namespace velkor::json

#endif  // VELKOR_JSON_VALUE_PLACES_H_
