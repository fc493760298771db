#include "Suggest.h"

#include <CLI/CLI.hpp>
#include <algorithm>

namespace zarvik::host {
namespace {

// Optimal string alignment distance.
std::size_t Distance(std::string_view a, std::string_view b) {
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[a.size()][b.size()];
}

}  // namespace

std::string Nearest(std::string_view word, const std::vector<std::string>& candidates) {
    const std::size_t limit = std::clamp<std::size_t>(word.size() / 3, 1, 3);
    std::string best;
    std::size_t bestDistance = limit + 1;
    for (const std::string& c : candidates) {
        const std::size_t d = Distance(word, c);
        if (d < bestDistance) best = c, bestDistance = d;
    }
    return best;
}

namespace {

std::vector<std::string> OptionNames(const CLI::App& app) {
    std::vector<std::string> names;
    for (const CLI::Option* o : app.get_options()) {
        for (const auto& n : o->get_lnames()) names.push_back("--" + n);
        for (const auto& n : o->get_snames()) names.push_back("-" + n);
    }
    return names;
}

// One nozzle given where a count is taken, or the other way round.
std::string NozzleHint(const CLI::App& command, const std::string& option) {
    const std::string name = command.get_name();
    if ((option == "--nozzle" || option == "-k") && command.get_option_no_throw("--nozzles") != nullptr)
        return name + " takes a count, --nozzles/-n N (how many nozzles to poll), not one nozzle (--nozzle/-k)";
    if ((option == "--nozzles" || option == "-n") && command.get_option_no_throw("--nozzle") != nullptr)
        return name + " takes one nozzle, --nozzle/-k K, not a count (--nozzles/-n)";
    return {};
}

}  // namespace

// What the user probably meant by the first word of the command line that
// names no command or option; empty when nothing is near.
std::string Suggestion(const CLI::App& app, int argc, char** argv) {
    std::vector<std::string> commands;
    const CLI::App* command = nullptr;
    for (const CLI::App* sub : app.get_subcommands({})) commands.push_back(sub->get_name());
    for (int i = 1; i < argc && command == nullptr; ++i)
        for (const CLI::App* sub : app.get_subcommands({}))
            if (sub->get_name() == argv[i]) command = sub;
    std::vector<std::string> options = OptionNames(app);
    if (command != nullptr)
        for (auto& n : OptionNames(*command)) options.push_back(std::move(n));
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        const bool option = word.rfind("--", 0) == 0 || (word.size() == 2 && word[0] == '-');
        if (option) {
            const std::string name = word.substr(0, word.find('='));
            if (std::find(options.begin(), options.end(), name) != options.end()) continue;
            if (command != nullptr)
                if (std::string hint = NozzleHint(*command, name); !hint.empty()) return hint;
            const std::string near = Nearest(name, options);
            return near.empty() ? std::string() : "no option " + name + ": did you mean " + near + "?";
        }
        if (command == nullptr && !word.empty() && word[0] != '-') {
            const std::string near = Nearest(word, commands);
            if (!near.empty()) return "no command \"" + word + "\": did you mean " + near + "?";
        }
    }
    return {};
}

}  // namespace zarvik::host
