#include "protocol/Cp1251.h"

#include <cstddef>
#include <cstdint>

namespace zarvik::cp1251 {

namespace {

// Code points of bytes 0x80..0xFF.
constexpr char16_t kHigh[128] = {0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
                                 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
                                 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
                                 0xFFFD, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
                                 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
                                 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
                                 0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
                                 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
                                 // C0..FF: А..я
                                 0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, 0x0418, 0x0419, 0x041A,
                                 0x041B, 0x041C, 0x041D, 0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425,
                                 0x0426, 0x0427, 0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F, 0x0430,
                                 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437, 0x0438, 0x0439, 0x043A, 0x043B,
                                 0x043C, 0x043D, 0x043E, 0x043F, 0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446,
                                 0x0447, 0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F};

// Writes whole characters into out[0..capacity) until one does not fit, and
// counts the bytes the whole text needs.
class Sink {
public:
    Sink(char* out, std::size_t capacity) : out_(out), capacity_(capacity) {}
    void Put(const char* bytes, std::size_t n) {
        if (!full_ && needed_ + n <= capacity_) {
            for (std::size_t i = 0; i < n; ++i) out_[needed_ + i] = bytes[i];
        } else {
            full_ = true;
        }
        needed_ += n;
    }
    std::size_t Needed() const { return needed_; }

private:
    char* out_;
    std::size_t capacity_;
    std::size_t needed_ = 0;
    bool full_ = false;
};

void PutUtf8(Sink& sink, char32_t cp) {
    char bytes[3];
    std::size_t n;
    if (cp < 0x80) {
        bytes[0] = static_cast<char>(cp);
        n = 1;
    } else if (cp < 0x800) {
        bytes[0] = static_cast<char>(0xC0 | (cp >> 6));
        bytes[1] = static_cast<char>(0x80 | (cp & 0x3F));
        n = 2;
    } else {
        bytes[0] = static_cast<char>(0xE0 | (cp >> 12));
        bytes[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        bytes[2] = static_cast<char>(0x80 | (cp & 0x3F));
        n = 3;
    }
    sink.Put(bytes, n);
}

char ByteOf(char32_t cp) {
    if (cp < 0x80) return static_cast<char>(cp);
    for (int i = 0; i < 128; ++i)
        if (kHigh[i] == cp && cp != 0xFFFD) return static_cast<char>(0x80 + i);
    return '?';
}

// The code point of the UTF-8 sequence at text[i], and its length; a length
// of 0 marks a byte that starts no well-formed sequence.
struct Decoded {
    char32_t cp;
    std::size_t length;
};
Decoded DecodeAt(std::string_view text, std::size_t i) {
    const auto b = static_cast<std::uint8_t>(text[i]);
    char32_t cp;
    std::size_t extra;
    if (b < 0x80) {
        return {b, 1};
    } else if ((b & 0xE0) == 0xC0) {
        cp = b & 0x1F;
        extra = 1;
    } else if ((b & 0xF0) == 0xE0) {
        cp = b & 0x0F;
        extra = 2;
    } else if ((b & 0xF8) == 0xF0) {
        cp = b & 0x07;
        extra = 3;
    } else {
        return {0, 0};
    }
    for (std::size_t j = 1; j <= extra; ++j) {
        if (i + j >= text.size() || (static_cast<std::uint8_t>(text[i + j]) & 0xC0) != 0x80) return {0, 0};
        cp = (cp << 6) | (static_cast<std::uint8_t>(text[i + j]) & 0x3F);
    }
    return {cp, extra + 1};
}

}  // namespace

std::size_t ToUtf8(std::string_view text, char* out, std::size_t capacity) {
    Sink sink(out, capacity);
    for (const char c : text) {
        const auto b = static_cast<std::uint8_t>(c);
        PutUtf8(sink, b < 0x80 ? char32_t{b} : char32_t{kHigh[b - 0x80]});
    }
    return sink.Needed();
}

std::size_t FromUtf8(std::string_view text, char* out, std::size_t capacity) {
    Sink sink(out, capacity);
    for (std::size_t i = 0; i < text.size();) {
        const Decoded d = DecodeAt(text, i);
        const char byte = d.length == 0 ? '?' : ByteOf(d.cp);
        sink.Put(&byte, 1);
        i += d.length == 0 ? 1 : d.length;
    }
    return sink.Needed();
}

std::string ToUtf8(std::string_view text) {
    std::string out(text.size() * kMaxUtf8PerByte, '\0');
    out.resize(ToUtf8(text, out.data(), out.size()));
    return out;
}

std::string FromUtf8(std::string_view text) {
    std::string out(text.size(), '\0');
    out.resize(FromUtf8(text, out.data(), out.size()));
    return out;
}

}  // namespace zarvik::cp1251
