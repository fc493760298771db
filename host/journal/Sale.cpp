#include "journal/Sale.h"

#include <array>
#include <utility>

namespace zarvik::journal {
namespace {

constexpr std::array<std::pair<SaleState, const char*>, 7> kNames{{
    {SaleState::Authorising, "authorising"},
    {SaleState::Authorised, "authorised"},
    {SaleState::Delivering, "delivering"},
    {SaleState::Finished, "finished"},
    {SaleState::Stopped, "stopped"},
    {SaleState::Failed, "failed"},
    {SaleState::Reconciled, "reconciled"},
}};

}  // namespace

const char* StateName(SaleState state) {
    for (const auto& [value, name] : kNames)
        if (value == state) return name;
    return "?";
}

std::optional<SaleState> StateFromName(std::string_view name) {
    for (const auto& [value, text] : kNames)
        if (name == text) return value;
    return std::nullopt;
}

bool IsEnded(SaleState state) {
    return state == SaleState::Finished || state == SaleState::Stopped || state == SaleState::Failed ||
           state == SaleState::Reconciled;
}

}  // namespace zarvik::journal
