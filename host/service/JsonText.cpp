#include "service/JsonText.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>

namespace zarvik::service {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD in UTF-8
constexpr unsigned char kFirstNonAscii = 0x80;
constexpr unsigned char kContinuationLow = 0x80;
constexpr unsigned char kContinuationHigh = 0xBF;
constexpr std::size_t kMaxEscapeBytes = 6;
constexpr std::size_t kMaxNumberBytes = 32;  // the longest shortest double is 24

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

// The escape of the ASCII byte C at P; returns its end.
char* PutEscape(char* p, unsigned char c) {
    constexpr std::string_view kHex = "0123456789abcdef";
    const char escape = kEscapes[c];
    *p++ = '\\';
    if (escape != 'u') {
        *p++ = escape;
        return p;
    }
    *p++ = 'u';
    *p++ = '0';
    *p++ = '0';
    *p++ = kHex[c >> 4];
    *p++ = kHex[c & 0xF];
    return p;
}

char* PutBytes(char* p, std::string_view bytes) {
    std::memcpy(p, bytes.data(), bytes.size());
    return p + bytes.size();
}

}  // namespace

void JsonText::Grow(std::size_t bytes) { text_.resize(std::max(2 * text_.size(), used_ + bytes)); }

void JsonText::Reserve(std::size_t bytes) {
    if (text_.size() - used_ < bytes) text_.resize(used_ + bytes);
}

std::string JsonText::Take() {
    text_.resize(used_);
    used_ = 0;
    return std::move(text_);
}

void JsonText::Quoted(std::string_view s) {
    // At most six bytes stand for one (the escape of a control byte).
    char* const start = Room(kMaxEscapeBytes * s.size() + 2);
    char* p = start;
    *p++ = '"';
    std::size_t plain = 0;  // the start of the bytes not yet put that stand as they are
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < kFirstNonAscii && kEscapes[c] == 0) {
            ++i;
            continue;
        }
        if (c < kFirstNonAscii) {
            p = PutEscape(PutBytes(p, s.substr(plain, i - plain)), c);
            plain = ++i;
            continue;
        }
        const Sequence sequence = Utf8Sequence(s, i);
        if (!sequence.wellFormed) {
            p = PutBytes(PutBytes(p, s.substr(plain, i - plain)), kReplacement);
            plain = i + sequence.length;
        }
        i += sequence.length;
    }
    p = PutBytes(p, s.substr(plain));
    *p++ = '"';
    used_ += static_cast<std::size_t>(p - start);
}

JsonText& JsonText::Open() {
    Separate();
    Put('{');
    return *this;
}

JsonText& JsonText::Close() {
    Put('}');
    return *this;
}

JsonText& JsonText::OpenArray() {
    Separate();
    Put('[');
    return *this;
}

JsonText& JsonText::CloseArray() {
    Put(']');
    return *this;
}

JsonText& JsonText::Key(std::string_view key) {
    Separate();
    char* p = Room(key.size() + 3);
    *p++ = '"';
    p = PutBytes(p, key);
    *p++ = '"';
    *p = ':';
    used_ += key.size() + 3;
    return *this;
}

JsonText& JsonText::String(std::string_view text) {
    Separate();
    Quoted(text);
    return *this;
}

JsonText& JsonText::Integer(std::int64_t value) {
    Separate();
    char* const p = Room(kMaxNumberBytes);
    used_ += static_cast<std::size_t>(std::to_chars(p, p + kMaxNumberBytes, value).ptr - p);
    return *this;
}

JsonText& JsonText::Unsigned(std::uint64_t value) {
    Separate();
    char* const p = Room(kMaxNumberBytes);
    used_ += static_cast<std::size_t>(std::to_chars(p, p + kMaxNumberBytes, value).ptr - p);
    return *this;
}

JsonText& JsonText::Number(double value) {
    if (!std::isfinite(value)) return Null();
    Separate();
    char* const p = Room(kMaxNumberBytes + 2);
    const std::string_view shortest(p, static_cast<std::size_t>(std::to_chars(p, p + kMaxNumberBytes, value).ptr - p));
    used_ += shortest.size();
    // "12" would read back as an integer: a volume of 12 litres stays a number with a fraction.
    if (shortest.find_first_of(".e") == std::string_view::npos) Put(".0");
    return *this;
}

JsonText& JsonText::Bool(bool value) {
    Separate();
    Put(value ? "true" : "false");
    return *this;
}

JsonText& JsonText::Null() {
    Separate();
    Put("null");
    return *this;
}

JsonText& JsonText::Raw(std::string_view value) {
    Separate();
    Put(value);
    return *this;
}

}  // namespace zarvik::service
