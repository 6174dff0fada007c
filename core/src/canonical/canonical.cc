#include "canonical/canonical.h"

#include <algorithm>
#include <utility>

#include "json/compact_writer.h"
#include "json/key_order.h"
#include "json/string_escape.h"

namespace velkor {
namespace {

// Working memory of the writer: the open containers, the sorted members of
// open objects, and room to sort a large object's members.
struct CanonicalScratch {
  struct Frame {
    const json::Value* container;
    std::size_t next;
    std::size_t size;
    std::size_t order_begin;  // objects: first of their sorted members in `order`
  };
  // A large object's members with their key prefixes, while they are sorted.
  struct KeyedMember {
    std::uint64_t prefix;
    const json::Member* member;
  };
  std::vector<Frame> open;
  std::vector<const json::Member*> order;
  std::vector<KeyedMember> keyed;
};

using json::Member;
using json::Value;
using KeyedMember = CanonicalScratch::KeyedMember;

// std::string compares through char_traits<char>, which orders bytes as
// unsigned char, shorter prefix first: exactly the canonical key order. Keys
// mostly differ in their first byte, which is compared inline.
bool key_less(const Member* a, const Member* b) {
  const std::string& x = a->key;
  const std::string& y = b->key;
  if (!x.empty() && !y.empty() && x[0] != y[0]) {
    return static_cast<unsigned char>(x[0]) < static_cast<unsigned char>(y[0]);
  }
  return x < y;
}

void sort_members(const Member** first, const Member** last, std::vector<KeyedMember>& keyed) {
  // Objects are mostly small; insertion sort avoids std::sort's set-up there.
  // Keys are unique, so any correct sort gives the same order. Large objects
  // sort (prefix, member) pairs, which keeps the sort in cache.
  if (last - first > 20) {
    keyed.clear();
    for (const Member** i = first; i < last; ++i) keyed.push_back({json::key_prefix((*i)->key), *i});
    std::sort(keyed.begin(), keyed.end(), [](const KeyedMember& a, const KeyedMember& b) {
      if (a.prefix != b.prefix) return a.prefix < b.prefix;
      return a.member->key < b.member->key;
    });
    for (const KeyedMember& k : keyed) *first++ = k.member;
    return;
  }
  for (const Member** i = first + 1; i < last; ++i) {
    const Member* m = *i;
    const Member** j = i;
    for (; j > first && key_less(m, *(j - 1)); --j) *j = *(j - 1);
    *j = m;
  }
}

// Writes `root` into `out`.
void write_canonical(std::string& out, const Value& root, CanonicalScratch& s) {
  using Frame = CanonicalScratch::Frame;
  s.open.clear();
  s.order.clear();
  const Value* pending = &root;
  for (;;) {
    if (pending != nullptr) {
      const Value& v = *pending;
      pending = nullptr;
      if (v.is_array()) {
        const std::size_t size = v.as_array().size();
        if (size == 0) {
          out.append("[]");
        } else {
          out.push_back('[');
          s.open.push_back(Frame{&v, 0, size, 0});
        }
      } else if (v.is_object()) {
        const auto& members = v.as_object().members();
        if (members.empty()) {
          out.append("{}");
        } else {
          out.push_back('{');
          const std::size_t begin = s.order.size();
          for (const Member& m : members) s.order.push_back(&m);
          sort_members(s.order.data() + begin, s.order.data() + s.order.size(), s.keyed);
          s.open.push_back(Frame{&v, 0, members.size(), begin});
        }
      } else {
        json::append_scalar(out, v);
      }
    }
    if (s.open.empty()) return;
    Frame& top = s.open.back();
    const bool is_object = top.container->is_object();
    if (top.next == top.size) {
      out.push_back(is_object ? '}' : ']');
      if (is_object) s.order.resize(top.order_begin);
      s.open.pop_back();
      continue;
    }
    if (top.next > 0) out.push_back(',');
    if (is_object) {
      const Member* m = s.order[top.order_begin + top.next];
      json::append_json_key(out, m->key);
      pending = &m->value;
    } else {
      pending = &top.container->as_array()[top.next];
    }
    ++top.next;
  }
}

}  // namespace

void append_canonical(std::string& out, const json::Value& value) {
  // A scalar (such as a number the text reader could not copy as written)
  // needs no working memory.
  if (!value.is_array() && !value.is_object()) {
    json::append_scalar(out, value);
    return;
  }
  // The working memory is kept per thread, so that writing a small document
  // allocates nothing once it has been grown; what a deep or wide document
  // needed is given back rather than held for the thread's life.
  constexpr std::size_t kKept = 1024;
  thread_local CanonicalScratch scratch;
  write_canonical(out, value, scratch);
  if (scratch.open.capacity() > kKept || scratch.order.capacity() > kKept || scratch.keyed.capacity() > kKept) {
    scratch = CanonicalScratch{};
  }
}

std::string canonical_json(const json::Value& value) {
  std::string out;
  out.reserve(512);  // a small strategy's text without growing
  append_canonical(out, value);
  return out;
}

}  // namespace velkor
