// The script file splitter. No line holds a CR or LF; the lines joined with one line end
// each give back the text up to its first NUL, every CR LF, lone CR and lone LF counted
// as one line end, a line end at the very end adding no line.
#include <cstdint>
#include <string>
#include <string_view>

#include "Check.h"
#include "engine/ScriptFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto lines = zv::SplitScriptLines(text);

    text = text.substr(0, text.find('\0'));
    std::string normal;  // every line end as one LF
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            normal += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            normal += text[i];
        }
    }

    std::string joined;
    for (const auto& line : lines) {
        ZV_FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos);
        ZV_FUZZ_CHECK(line.find('\0') == std::string::npos);
        joined += line;
        joined += '\n';
    }
    const bool endsWithLineEnd = !normal.empty() && normal.back() == '\n';
    ZV_FUZZ_CHECK(joined == (endsWithLineEnd || normal.empty() ? normal : normal + '\n'));
    return 0;
}
