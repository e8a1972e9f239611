#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/ScriptFile.h"

namespace {

using Lines = std::vector<std::string>;

struct SplitCase {
    const char* name;
    std::string text;
    Lines lines;
};

TEST(SplitScriptLines, LineEndsNulAndTheEndOfTheText) {
    const std::vector<SplitCase> cases = {
        {"empty text", "", {}},
        {"no line end", "I000000", {"I000000"}},
        {"CR LF", "a\r\nb\r\n", {"a", "b"}},
        {"lone CR", "a\rb\r", {"a", "b"}},
        {"lone LF", "a\nb\n", {"a", "b"}},
        {"mixed ends", "a\r\nb\rc\nd", {"a", "b", "c", "d"}},
        {"LF CR is two ends", "a\n\rb", {"a", "", "b"}},
        {"empty lines kept", "\r\n\r\nx\n\n", {"", "", "x", ""}},
        {"only a line end", "\r\n", {""}},
        {"CR CR LF", "a\r\r\nb", {"a", "", "b"}},
        {"NUL ends the text", std::string("a\r\nb\0c\r\nd", 10), {"a", "b"}},
        {"NUL first", std::string("\0a", 2), {}},
        {"NUL right after a line end", std::string("a\n\0\n", 4), {"a"}},
        {"nothing trimmed", " ;x \t\r\n  ", {" ;x \t", "  "}},
        {"8-bit bytes kept", "\x8a\x9e\xe8\r\n", {"\x8a\x9e\xe8"}},
    };
    for (const auto& c : cases) EXPECT_EQ(zv::SplitScriptLines(c.text), c.lines) << c.name;
}

}  // namespace
