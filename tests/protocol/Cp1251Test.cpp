#include <gtest/gtest.h>
#if defined(_WIN32)
#include <windows.h>
#else
#include <iconv.h>
#endif

#include "protocol/Cp1251.h"

namespace zarvik::cp1251 {
namespace {

// The system's converter is the reference for every byte it knows (on
// Windows its own code page 1251, through UTF-16).
#if defined(_WIN32)
std::string Iconv(const std::string& bytes) {
    wchar_t wide[16];
    const int n =
        MultiByteToWideChar(1251, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()), wide, 16);
    if (n <= 0) return {};
    char out[64];
    const int m = WideCharToMultiByte(CP_UTF8, 0, wide, n, out, sizeof out, nullptr, nullptr);
    if (m <= 0) return {};
    // Windows passes the one unassigned byte, 0x98, through as U+0098.
    if (bytes == "\x98" && wide[0] == 0x98) return {};
    return std::string(out, static_cast<std::size_t>(m));
}
#else
std::string Iconv(const std::string& bytes) {
    iconv_t cd = iconv_open("UTF-8", "CP1251");
    if (cd == reinterpret_cast<iconv_t>(-1)) return {};
    std::string in = bytes, out(16, '\0');
    char* ip = in.data();
    char* op = out.data();
    std::size_t il = in.size(), ol = out.size();
    const std::size_t r = iconv(cd, &ip, &il, &op, &ol);
    iconv_close(cd);
    if (r == static_cast<std::size_t>(-1)) return {};
    out.resize(out.size() - ol);
    return out;
}
#endif

TEST(Cp1251, EveryHighByteMatchesTheSystemTable) {
    if (Iconv("A") != "A") GTEST_SKIP() << "no CP1251 converter here";
    for (int b = 0x80; b <= 0xFF; ++b) {
        const std::string byte(1, static_cast<char>(b));
        const std::string reference = Iconv(byte);
        if (reference.empty()) {
            EXPECT_EQ(b, 0x98) << "only 0x98 is unassigned";
            continue;
        }
        EXPECT_EQ(ToUtf8(byte), reference) << std::hex << b;
        EXPECT_EQ(FromUtf8(reference), byte) << std::hex << b;
    }
}

TEST(Cp1251, TextRoundTrips) {
    const std::string utf8 = "v2.50#Протокол Зенто-М Ёё №";
    const std::string bytes = FromUtf8(utf8);
    EXPECT_EQ(bytes.size(), 27u);
    EXPECT_EQ(ToUtf8(bytes), utf8);
}

TEST(Cp1251, UnmappableAndBrokenInputBecomeQuestionMarks) {
    EXPECT_EQ(FromUtf8("a\xE2\x82"), "a??");   // truncated sequence: each stray byte
    EXPECT_EQ(FromUtf8("\xE4\xB8\xAD"), "?");  // a character with no byte
    EXPECT_EQ(FromUtf8("\xFF"
                       "b"),
              "?b");
    EXPECT_EQ(ToUtf8("\x98"), "\xEF\xBF\xBD");
}

// The buffer forms: whole characters only, the size of the whole text
// returned, nothing written past the capacity.
TEST(Cp1251, BufferFormsStopAtTheFirstCharacterThatDoesNotFit) {
    struct Case {
        const char* name;
        bool toUtf8;
        std::string in;
        std::size_t capacity;
        std::string written;
        std::size_t needed;
    };
    const Case cases[] = {
        {"to UTF-8, room for all", true, "\xCF\xF0", 4, "Пр", 4},
        {"to UTF-8, cut inside the second", true, "\xCF\xF0", 3, "П", 4},
        {"to UTF-8, no room", true, "a\xCF", 0, "", 3},
        {"to UTF-8, ASCII then a three-byte sign", true, "1\xB9", 3, "1", 4},  // №
        {"from UTF-8, room for all", false, "Пр!", 3, "\xCF\xF0!", 3},
        {"from UTF-8, cut", false, "Пр!", 2, "\xCF\xF0", 3},
        {"from UTF-8, broken bytes count one each", false, "a\xE2\x82", 8, "a??", 3},
    };
    for (const auto& c : cases) {
        std::string buffer(c.capacity + 4, '#');
        const std::size_t needed =
            c.toUtf8 ? ToUtf8(c.in, buffer.data(), c.capacity) : FromUtf8(c.in, buffer.data(), c.capacity);
        EXPECT_EQ(needed, c.needed) << c.name;
        EXPECT_EQ(buffer.substr(0, c.written.size()), c.written) << c.name;
        EXPECT_EQ(buffer.substr(c.written.size()), std::string(buffer.size() - c.written.size(), '#'))
            << c.name << ": wrote past the last whole character";
    }
}

}  // namespace
}  // namespace zarvik::cp1251
