#include "cli/did_you_mean.h"

#include <algorithm>
#include <numeric>

namespace glowstep {

namespace {

// The edits from one word to the other: a letter added, dropped or changed, or two neighbours
// swapped ("stiars" is one from "stairs").
std::size_t EditDistance(std::string_view a, std::string_view b) {
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  std::iota(d[0].begin(), d[0].end(), std::size_t{0});
  for (std::size_t i = 1; i <= a.size(); ++i) {
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t change = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + change});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  }
  return d[a.size()][b.size()];
}

}  // namespace

std::string DidYouMean(std::string_view word, const std::vector<std::string_view>& choices) {
  constexpr std::size_t kShortWord = 4;
  // Nothing is learnt from a word this long: it is not a mistyped key.
  constexpr std::size_t kLongestWord = 64;
  if (word.empty() || word.size() > kLongestWord) return {};
  const std::size_t allowed = word.size() < kShortWord ? 1 : 2;
  std::string_view best;
  std::size_t bestDistance = allowed + 1;
  for (const std::string_view choice : choices) {
    const std::size_t distance =
        word.size() >= 2 && choice.starts_with(word) ? 0 : EditDistance(word, choice);
    if (distance < bestDistance) {
      best = choice;
      bestDistance = distance;
    }
  }
  if (best.empty() || best == word) return {};
  return " (did you mean " + std::string(best) + "?)";
}

}  // namespace glowstep
