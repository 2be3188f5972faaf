// The nearest valid word to one that was mistyped, for messages that name it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace glowstep {

// " (did you mean read?)" when one of `choices` is near `word`: `word` begins it, or it is at
// most two letters (one for a short word) added, dropped, changed or swapped away from it; the
// nearest, the first of equals. Empty otherwise.
std::string DidYouMean(std::string_view word, const std::vector<std::string_view>& choices);

}  // namespace glowstep
