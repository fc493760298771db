#include "hostkit/VisibleText.h"

#include <cstdint>

namespace zarvik::host {
namespace {

void Escape(std::string& out, unsigned code) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    out += "\\x";
    out += kDigits[(code >> 4) & 0x0F];
    out += kDigits[code & 0x0F];
}

// The length of the well-formed UTF-8 sequence at `text[i]`, 0 if there is none.
std::size_t SequenceLength(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(text[k]); };
    const std::uint8_t lead = byte(i);
    std::size_t length = 0;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4;
    if (length == 0 || i + length > text.size()) return 0;
    for (std::size_t k = 1; k < length; ++k)
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
    // Overlong forms and surrogates are not UTF-8.
    if (lead == 0xE0 && byte(i + 1) < 0xA0) return 0;
    if (lead == 0xED && byte(i + 1) >= 0xA0) return 0;
    if (lead == 0xF0 && byte(i + 1) < 0x90) return 0;
    if (lead == 0xF4 && byte(i + 1) >= 0x90) return 0;
    return length;
}

}  // namespace

std::string VisibleText(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<std::uint8_t>(utf8[i]);
        if (c < 0x80) {
            if (c < 0x20 || c == 0x7F)
                Escape(out, c);
            else
                out += static_cast<char>(c);
            ++i;
            continue;
        }
        const std::size_t length = SequenceLength(utf8, i);
        if (length == 0) {
            Escape(out, c);
            ++i;
            continue;
        }
        // U+0080..U+009F, the C1 controls (CSI among them), are C2 80..C2 9F.
        const auto second = static_cast<std::uint8_t>(utf8[i + 1]);
        if (c == 0xC2 && second <= 0x9F)
            Escape(out, second);
        else
            out.append(utf8.substr(i, length));
        i += length;
    }
    return out;
}

}  // namespace zarvik::host
