// Where each value of a document stands in the text it was read from, for
// messages that point into a file. Found by a second walk over the text beside
// the value the reader built, so that reading for any other purpose stays as
// fast as it is.
#ifndef VELKOR_JSON_VALUE_PLACES_H_
#define VELKOR_JSON_VALUE_PLACES_H_

#include <cstddef>
#include <string>
#include <string_view>
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
  // (see parse_document). A key given twice in one object is the place of its
  // last occurrence, whose value the object holds.
  ValuePlaces(std::string_view text, const Value& root);

  // The place of a value of the document (nullptr for any other value).
  const Place* find(const Value* v) const;
  // The JSON Pointer of a value of the document: "" for the root, then
  // "/{key}" or "/{index}" per level, "~" and "/" in keys escaped as "~0", "~1".
  std::string pointer(const Value* v) const;
  // Values whose key occurs more than once in its object, sorted by address.
  const std::vector<const Value*>& repeated_members() const { return repeated_; }

 private:
  void walk(class Reader& reader, const Value* v, const Value* parent, std::size_t index, std::size_t key);

  // In walking order; sorted by value (stably, so that the last walk of a
  // value is its last entry) only when a place is first looked up, which a
  // document without problems never does.
  mutable std::vector<std::pair<const Value*, Place>> places_;
  mutable bool sorted_ = false;
  // A member found repeated while walking an object that started at `object_at`:
  // an earlier occurrence of an enclosing member is walked beside the value of
  // its last occurrence, so only findings from the last walk of an object count.
  struct Repeat {
    const Value* member;
    const Value* object;
    std::size_t object_at;
  };
  std::vector<Repeat> repeats_;
  std::vector<const Value*> repeated_;
};

}  // namespace velkor::json

#endif  // VELKOR_JSON_VALUE_PLACES_H_
