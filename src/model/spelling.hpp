#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace qbr {

// Edits (insertions, deletions, substitutions and swaps of neighbouring letters) that
// turn `a` into `b`: the optimal string alignment distance.
std::size_t editDistance(std::string_view a, std::string_view b);

// The candidate a slip of the pen most likely meant by `word`: the nearest one, when it
// is within a distance that grows with the word's length (one edit up to four letters,
// two up to eight, three beyond), or else one that `word` begins or that begins `word`
// (a word cut short or run on).
std::optional<std::string> nearestWord(std::string_view word,
                                       std::span<const std::string_view> candidates);

// " (did you mean "x"?)" for the nearest candidate, or nothing.
std::string didYouMean(std::string_view word, std::span<const std::string_view> candidates);

}  // namespace qbr
