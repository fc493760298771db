#include <gtest/gtest.h>
#include <iconv.h>

#include "protocol/Cp1251.h"

namespace zarvik::cp1251 {
namespace {

// The system's converter is the reference for every byte it knows.
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

}  // namespace
}  // namespace zarvik::cp1251
