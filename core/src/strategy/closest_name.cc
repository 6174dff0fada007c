#include "strategy/closest_name.h"

#include <algorithm>
#include <array>

namespace velkor::strategy {
namespace {

char fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// What `distance` costs at most, in cells: one band of 2 * limit + 1 a row,
// and the candidate's letters.
std::size_t cells(std::size_t rows, std::size_t columns, std::size_t limit) { return rows * (2 * limit + 1) + columns; }

// The longest candidate compared: one more than twice the name's length
// differs in more than half the letters of the longer.
constexpr std::size_t kLongestCandidate = 2 * kLongestSuggestedName;

// Optimal string alignment distance, byte-wise, letter case ignored, or a
// value above `limit` when it exceeds `limit`. Only the cells within `limit`
// of the diagonal are computed (an alignment leaving that band costs more than
// `limit`), and the reading stops once a whole row exceeds it. The rows live
// on the stack: `b` is at most kLongestCandidate bytes.
std::size_t distance(std::string_view a, std::string_view b, std::size_t limit) {
  const std::size_t n = a.size();
  const std::size_t m = b.size();
  const std::size_t over = limit + 1;
  if ((n > m ? n - m : m - n) > limit || m > kLongestCandidate) return over;
  std::array<char, kLongestCandidate> folded{};
  for (std::size_t j = 0; j < m; ++j) folded[j] = fold(b[j]);
  // Each row sets the cells next to its band that the next rows read, so
  // only the first row is written before the loop.
  std::array<std::size_t, kLongestCandidate + 2> rows[3];
  std::size_t* before = rows[0].data();
  std::size_t* previous = rows[1].data();
  std::size_t* current = rows[2].data();
  for (std::size_t j = 0; j <= std::min(m, limit); ++j) previous[j] = j;
  previous[std::min(m, limit) + 1] = over;
  for (std::size_t i = 1; i <= n; ++i) {
    const std::size_t lo = i > limit ? i - limit : 1;
    const std::size_t hi = std::min(m, i + limit);
    const char here = fold(a[i - 1]);
    const char last = i > 1 ? fold(a[i - 2]) : '\0';
    current[0] = i;
    current[lo - 1] = lo == 1 ? i : over;  // left of the band
    current[hi + 1] = over;                // right of it, read by the next row
    std::size_t row_best = lo == 1 ? i : over;
    for (std::size_t j = lo; j <= hi; ++j) {
      std::size_t d = std::min({previous[j] + 1, current[j - 1] + 1, previous[j - 1] + (here == folded[j - 1] ? 0 : 1)});
      if (i > 1 && j > 1 && here == folded[j - 2] && last == folded[j - 1]) d = std::min(d, before[j - 2] + 1);
      current[j] = std::min(d, over);
      row_best = std::min(row_best, current[j]);
    }
    if (row_best > limit) return over;
    std::swap(before, previous);
    std::swap(previous, current);
  }
  return previous[m];
}

// `a` and `b` without the letters they share at the start and at the end
// (letter case ignored), which change no edit distance: an edit that reaches
// into them would swap or replace a letter by the same letter. Names that
// share a long prefix ("indicator_with_a_long_name_1", "..._2") then cost
// only their differing parts. Returns how many letters were compared.
std::size_t strip_shared_ends(std::string_view& a, std::string_view& b) {
  std::size_t front = 0;
  while (front < a.size() && front < b.size() && fold(a[front]) == fold(b[front])) ++front;
  a.remove_prefix(front);
  b.remove_prefix(front);
  std::size_t back = 0;
  while (back < a.size() && back < b.size() && fold(a[a.size() - 1 - back]) == fold(b[b.size() - 1 - back])) ++back;
  a.remove_suffix(back);
  b.remove_suffix(back);
  return front + back;
}

// What comparing shared letters costs, in cells: folding and comparing two
// letters takes about the time of one table cell.
constexpr std::size_t kSharedLettersPerCell = 2;

}  // namespace

std::optional<std::string> closest_name(std::string_view name, std::span<const std::string_view> candidates,
                                        std::size_t* budget) {
  if (name.size() > kLongestSuggestedName) return std::nullopt;
  std::optional<std::string> best;
  std::size_t best_distance = 0;
  for (std::string_view candidate : candidates) {
    if (candidate == name) return std::nullopt;
    const std::size_t half = std::max<std::size_t>(1, std::max(name.size(), candidate.size()) / 2);
    const std::size_t limit = best ? std::min(half, best_distance - 1) : half;
    const std::size_t gap = name.size() > candidate.size() ? name.size() - candidate.size() : candidate.size() - name.size();
    if (gap > limit) continue;
    std::string_view a = name;
    std::string_view b = candidate;
    const std::size_t shared = strip_shared_ends(a, b);
    if (budget != nullptr) {
      const std::size_t cost = cells(a.size(), b.size(), limit) + shared / kSharedLettersPerCell + 1;
      if (*budget < cost) return std::nullopt;
      *budget -= cost;
    }
    const std::size_t d = distance(a, b, limit);
    if (d > limit || (best && d >= best_distance)) continue;
    best = std::string(candidate);
    best_distance = d;
  }
  return best;
}

}  // namespace velkor::strategy
