// "Did you mean" for a mistyped command or option: the nearest of the known
// names by edit distance, when it is near enough to be what was meant.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace CLI {
class App;
}

namespace zarvik::host {

// The candidate nearest to `word` (insertions, deletions, substitutions and
// swaps of neighbours count 1 each), or empty when none is within a third
// of the word's length (at least 1, at most 3).
std::string Nearest(std::string_view word, const std::vector<std::string>& candidates);

// What the user probably meant by the first word of the command line that
// names no command or option of `app` (or one nozzle given where a count is
// taken, or the other way round); empty when nothing is near.
std::string Suggestion(const CLI::App& app, int argc, char** argv);

}  // namespace zarvik::host
