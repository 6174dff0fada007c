// What a misspelt name was probably meant to be: the basis of every
// "did you mean" the diagnostics pass offers.
#ifndef VELKOR_STRATEGY_CLOSEST_NAME_H_
#define VELKOR_STRATEGY_CLOSEST_NAME_H_

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace velkor::strategy {

// Names longer than this get no suggestion: a name is an identifier someone
// typed, and the work of comparing two names grows with the product of their
// lengths.
inline constexpr std::size_t kLongestSuggestedName = 64;

// The closest of `candidates` to `name` by edit distance (insertions,
// deletions, substitutions and swaps of neighbours, letter case ignored), when
// it differs in at most half the letters of the longer of the two; the first
// candidate wins a tie. Nothing for an exact match, which is no misspelling,
// nor for a name longer than kLongestSuggestedName.
// With `budget`, the table cells compared are taken from it, and nothing is
// suggested once it cannot pay for the next comparison: a document may name
// thousands of indicators, and this bounds the work of all its suggestions.
std::optional<std::string> closest_name(std::string_view name, std::span<const std::string_view> candidates,
                                        std::size_t* budget = nullptr);

}  // namespace velkor::strategy

#endif  // VELKOR_STRATEGY_CLOSEST_NAME_H_
