#include "service/JsonText.h"

#include <array>
#include <charconv>
#include <cmath>

namespace zarvik::service {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD in UTF-8
constexpr unsigned char kFirstNonAscii = 0x80;
constexpr unsigned char kContinuationLow = 0x80;
constexpr unsigned char kContinuationHigh = 0xBF;

// For each ASCII byte: 0 when it stands as it is, 'u' for \u00xx, else the
// letter of its short escape.
constexpr std::array<char, kFirstNonAscii> EscapeTable() {
    std::array<char, kFirstNonAscii> table{};
    for (std::size_t c = 0; c < 0x20; ++c) table[c] = 'u';
    table['\b'] = 'b';
    table['\f'] = 'f';
    table['\n'] = 'n';
    table['\r'] = 'r';
    table['\t'] = 't';
    table['"'] = '"';
    table['\\'] = '\\';
    return table;
}
constexpr std::array<char, kFirstNonAscii> kEscapes = EscapeTable();

struct Sequence {
    std::size_t length;  // the bytes taken: the whole sequence, or its ill-formed start
    bool wellFormed;
};

// The UTF-8 sequence whose lead byte (>= 0x80) is at S[I]. An ill-formed one
// takes its lead and the continuation bytes that were right, not the byte
// that broke it (that byte starts the next sequence), and is replaced as one.
Sequence Utf8Sequence(std::string_view s, std::size_t i) {
    const auto lead = static_cast<unsigned char>(s[i]);
    std::size_t more = 0;
    unsigned char low = kContinuationLow;  // the second byte's range; later ones take 80..BF
    unsigned char high = kContinuationHigh;
    if (lead >= 0xC2 && lead <= 0xDF) {
        more = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        more = 2;
        if (lead == 0xE0) low = 0xA0;   // no overlong forms
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        more = 3;
        if (lead == 0xF0) low = 0x90;   // no overlong forms
        if (lead == 0xF4) high = 0x8F;  // nothing beyond U+10FFFF
    } else {
        return {1, false};
    }
    for (std::size_t k = 1; k <= more; ++k) {
        if (i + k >= s.size()) return {k, false};
        const auto c = static_cast<unsigned char>(s[i + k]);
        if (c < low || c > high) return {k, false};
        low = kContinuationLow;
        high = kContinuationHigh;
    }
    return {more + 1, true};
}

void AppendEscape(std::string& out, unsigned char c) {
    constexpr std::string_view kHex = "0123456789abcdef";
    const char escape = kEscapes[c];
    out += '\\';
    if (escape != 'u') {
        out += escape;
        return;
    }
    out += "u00";
    out += kHex[c >> 4];
    out += kHex[c & 0xF];
}

}  // namespace

void AppendJsonString(std::string& out, std::string_view s) {
    out += '"';
    std::size_t plain = 0;  // the start of the bytes not yet appended that stand as they are
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < kFirstNonAscii && kEscapes[c] == 0) {
            ++i;
            continue;
        }
        if (c < kFirstNonAscii) {
            out.append(s.substr(plain, i - plain));
            AppendEscape(out, c);
            plain = ++i;
            continue;
        }
        const Sequence sequence = Utf8Sequence(s, i);
        if (!sequence.wellFormed) {
            out.append(s.substr(plain, i - plain));
            out.append(kReplacement);
            plain = i + sequence.length;
        }
        i += sequence.length;
    }
    out.append(s.substr(plain));
    out += '"';
}

void JsonText::Separate() {
    if (text_.empty()) return;
    const char last = text_.back();
    if (last != '{' && last != '[' && last != ':') text_ += ',';
}

JsonText& JsonText::Open() {
    Separate();
    text_ += '{';
    return *this;
}

JsonText& JsonText::Close() {
    text_ += '}';
    return *this;
}

JsonText& JsonText::OpenArray() {
    Separate();
    text_ += '[';
    return *this;
}

JsonText& JsonText::CloseArray() {
    text_ += ']';
    return *this;
}

JsonText& JsonText::Key(std::string_view key) {
    Separate();
    AppendJsonString(text_, key);
    text_ += ':';
    return *this;
}

JsonText& JsonText::String(std::string_view text) {
    Separate();
    AppendJsonString(text_, text);
    return *this;
}

JsonText& JsonText::Integer(std::int64_t value) {
    Separate();
    char digits[24];
    text_.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
    return *this;
}

JsonText& JsonText::Unsigned(std::uint64_t value) {
    Separate();
    char digits[24];
    text_.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
    return *this;
}

JsonText& JsonText::Number(double value) {
    if (!std::isfinite(value)) return Null();
    Separate();
    char digits[32];
    const std::string_view shortest(
        digits, static_cast<std::size_t>(std::to_chars(digits, digits + sizeof digits, value).ptr - digits));
    text_.append(shortest);
    // "12" would read back as an integer: a volume of 12 litres stays a number with a fraction.
    if (shortest.find_first_of(".e") == std::string_view::npos) text_ += ".0";
    return *this;
}

JsonText& JsonText::Bool(bool value) {
    Separate();
    text_ += value ? "true" : "false";
    return *this;
}

JsonText& JsonText::Null() {
    Separate();
    text_ += "null";
    return *this;
}

JsonText& JsonText::Raw(std::string_view value) {
    Separate();
    text_.append(value);
    return *this;
}

}  // namespace zarvik::service
