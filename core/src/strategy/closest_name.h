// What a misspelt name was probably meant to be: the basis of every
// "did you mean" the diagnostics pass offers.
#ifndef VELKOR_STRATEGY_CLOSEST_NAME_H_
#define VELKOR_STRATEGY_CLOSEST_NAME_H_

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace velkor::strategy {

// The closest of `candidates` to `name` by edit distance (insertions,
// deletions, substitutions and swaps of neighbours, letter case ignored), when
// it differs in at most half the letters of the longer of the two; the first
// candidate wins a tie. Nothing for an exact match, which is no misspelling.
std::optional<std::string> closest_name(std::string_view name, std::span<const std::string_view> candidates);

}  // namespace velkor::strategy

#endif  // VELKOR_STRATEGY_CLOSEST_NAME_H_
