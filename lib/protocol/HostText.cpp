#include "protocol/HostText.h"

#include "protocol/Cp1251.h"

namespace zarvik::protocol {

std::string ToHostText(std::string_view utf8) {
    if constexpr (kHostTextIsCp1251) return cp1251::FromUtf8(utf8);
    return std::string(utf8);
}

std::string HostTextToUtf8(std::string_view text) {
    if constexpr (kHostTextIsCp1251) return cp1251::ToUtf8(text);
    return std::string(text);
}

}  // namespace zarvik::protocol
