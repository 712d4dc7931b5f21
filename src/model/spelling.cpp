#include "model/spelling.hpp"

#include <algorithm>
#include <vector>

namespace qbr {

std::size_t editDistance(std::string_view a, std::string_view b) {
  const std::size_t n = a.size();
  const std::size_t m = b.size();
  // d[i][j]: distance between the first i letters of a and the first j of b.
  std::vector<std::size_t> d((n + 1) * (m + 1));
  const auto at = [&](std::size_t i, std::size_t j) -> std::size_t& { return d[i * (m + 1) + j]; };
  for (std::size_t i = 0; i <= n; ++i) at(i, 0) = i;
  for (std::size_t j = 0; j <= m; ++j) at(0, j) = j;
  for (std::size_t i = 1; i <= n; ++i) {
    for (std::size_t j = 1; j <= m; ++j) {
      const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
      std::size_t best = std::min({at(i - 1, j) + 1, at(i, j - 1) + 1, at(i - 1, j - 1) + cost});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        best = std::min(best, at(i - 2, j - 2) + 1);
      }
      at(i, j) = best;
    }
  }
  return at(n, m);
}

std::optional<std::string> nearestWord(std::string_view word,
                                       std::span<const std::string_view> candidates) {
  if (word.empty()) return std::nullopt;
  const std::size_t allowed = word.size() <= 4 ? 1 : word.size() <= 8 ? 2 : 3;
  std::optional<std::string> best;
  std::size_t bestDistance = allowed + 1;
  for (const std::string_view candidate : candidates) {
    const std::size_t distance = editDistance(word, candidate);
    if (distance < bestDistance) {
      bestDistance = distance;
      best = std::string(candidate);
    }
  }
  if (best) return best;
  // A word cut short ("conductanc") or run on ("rectangle", "lines").
  for (const std::string_view candidate : candidates) {
    if (word.size() >= 3 && candidate.starts_with(word)) return std::string(candidate);
    if (candidate.size() >= 3 && word.starts_with(candidate)) return std::string(candidate);
  }
  return std::nullopt;
}

std::string didYouMean(std::string_view word, std::span<const std::string_view> candidates) {
  const std::optional<std::string> nearest = nearestWord(word, candidates);
  return nearest ? " (did you mean \"" + *nearest + "\"?)" : std::string();
}

}  // namespace qbr
