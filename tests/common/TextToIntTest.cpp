#include <gtest/gtest.h>

#include "common/Error.h"
#include "common/TextToInt.h"

namespace {

struct Case {
    const char* text;
    std::int32_t expected;  // with fallback -777
};

TEST(TextToInt, Rule) {
    const Case cases[] = {
        {"127", 127},          {"  42", 42},           {"+5", 5},
        {"-5", -5},            {"$7F", 127},           {"x7f", 127},
        {"X7F", 127},          {"0x7F", 127},          {"0X10", 16},
        {"-$10", -16},         {"2147483647", 2147483647},
        {"-2147483648", INT32_MIN},                    {"$FFFFFFFF", -1},
        {"", -777},            {" ", -777},            {"12 ", -777},
        {"abc", -777},         {"1a", -777},           {"$", -777},
        {"0x", -777},          {"-", -777},            {"2147483648", -777},
        {"-2147483649", -777}, {"$100000000", -777},   {"7F", -777},
        {"1.0", -777},         {"+-1", -777},          {"$-1", -777},
    };
    for (const Case& c : cases) EXPECT_EQ(zv::TextToIntDef(c.text, -777), c.expected) << '"' << c.text << '"';
}

TEST(TextToInt, HexFieldRaisesWithTheConvertedText) {
    EXPECT_EQ(zv::HexField("00107f"), 0x107F);
    EXPECT_EQ(zv::HexField("FFFFFF"), 0xFFFFFF);
    for (const char* bad : {"00 100", "-00100", "00x100", "", "0G0000"}) {
        try {
            zv::HexField(bad);
            ADD_FAILURE() << bad;
        } catch (const zv::Error& e) {
            EXPECT_EQ(std::string(e.what()), std::string("'0x") + bad + "' is not a valid integer value");
        }
    }
}

}  // namespace
