#include "strategy/closest_name.h"

#include <algorithm>
#include <vector>

namespace velkor::strategy {
namespace {

char fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Optimal string alignment distance, byte-wise, letter case ignored. Stops
// early (returning a value above `limit`) once every alignment exceeds it, so a
// long candidate costs little.
std::size_t distance(std::string_view a, std::string_view b, std::size_t limit) {
  const std::size_t n = a.size();
  const std::size_t m = b.size();
  if ((n > m ? n - m : m - n) > limit) return limit + 1;
  std::vector<std::size_t> before(m + 1), previous(m + 1), current(m + 1);
  for (std::size_t j = 0; j <= m; ++j) previous[j] = j;
  for (std::size_t i = 1; i <= n; ++i) {
    current[0] = i;
    std::size_t row_best = current[0];
    for (std::size_t j = 1; j <= m; ++j) {
      const bool same = fold(a[i - 1]) == fold(b[j - 1]);
      std::size_t d = std::min({previous[j] + 1, current[j - 1] + 1, previous[j - 1] + (same ? 0 : 1)});
      if (i > 1 && j > 1 && fold(a[i - 1]) == fold(b[j - 2]) && fold(a[i - 2]) == fold(b[j - 1])) {
        d = std::min(d, before[j - 2] + 1);
      }
      current[j] = d;
      row_best = std::min(row_best, d);
    }
    if (row_best > limit) return limit + 1;
    std::swap(before, previous);
    std::swap(previous, current);
  }
  return previous[m];
}

}  // namespace

std::optional<std::string> closest_name(std::string_view name, std::span<const std::string_view> candidates) {
  std::optional<std::string> best;
  std::size_t best_distance = 0;
  for (std::string_view candidate : candidates) {
    if (candidate == name) return std::nullopt;
    const std::size_t limit = std::max<std::size_t>(1, std::max(name.size(), candidate.size()) / 2);
    const std::size_t d = distance(name, candidate, best ? std::min(limit, best_distance - 1) : limit);
    if (d > limit || (best && d >= best_distance)) continue;
    best = std::string(candidate);
    best_distance = d;
  }
  return best;
}

}  // namespace velkor::strategy
