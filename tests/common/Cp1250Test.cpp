#include <gtest/gtest.h>
#include <iconv.h>

#include "common/Cp1250.h"
#include "common/Messages.h"

namespace {

// glibc's converter is the reference for every byte CP1250 defines.
std::string IconvDecode(unsigned char byte) {
    iconv_t cd = iconv_open("UTF-8", "CP1250");
    if (cd == reinterpret_cast<iconv_t>(-1)) return {};
    char in[1] = {static_cast<char>(byte)};
    char out[8] = {};
    char* ip = in;
    char* op = out;
    std::size_t il = 1, ol = sizeof out;
    const std::size_t r = iconv(cd, &ip, &il, &op, &ol);
    iconv_close(cd);
    if (r == static_cast<std::size_t>(-1)) return {};
    return std::string(out, op);
}

TEST(Cp1250, EveryByteMatchesIconvAndRoundTrips) {
    for (int b = 0; b < 256; ++b) {
        const std::string one(1, static_cast<char>(b));
        const std::string utf8 = zv::Cp1250ToUtf8(one);
        const std::string ref = IconvDecode(static_cast<unsigned char>(b));
        if (!ref.empty()) {
            EXPECT_EQ(utf8, ref) << "byte " << b;
        }
        EXPECT_EQ(zv::Utf8ToCp1250(utf8), one) << "byte " << b;
    }
}

TEST(Cp1250, CzechTextAndReplacement) {
    EXPECT_EQ(zv::Utf8ToCp1250("Přerušeno"), "P\xF8" "eru\x9A" "eno");
    EXPECT_EQ(zv::Cp1250ToUtf8("Dokon\xE8" "eno"), "Dokončeno");
    EXPECT_EQ(zv::Utf8ToCp1250("a€b日c"), "a\x80" "b?c");       // outside CP1250
    EXPECT_EQ(zv::Utf8ToCp1250("x\xC3y\xFFz"), "x?y?z");          // broken UTF-8
    EXPECT_EQ(zv::Utf8ToCp1250(std::string("\0a", 2)), std::string("\0a", 2));
}

TEST(Messages, HeldInCp1250) {
    EXPECT_EQ(zv::msg::Dokonceno, "=== Dokon\xE8" "eno: ");
    EXPECT_EQ(zv::msg::PortNelzeVybrat("COM1"), "Port COM1 nelze vybrat.");
    EXPECT_EQ(zv::Cp1250ToUtf8(zv::msg::NelzeZiskatNastaveni("COM2")), "Nelze získat nastavení portu COM2.");
}

}  // namespace
