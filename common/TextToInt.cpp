#include "common/TextToInt.h"

#include "common/Error.h"
#include "common/Messages.h"

namespace zv {

std::optional<std::int32_t> TextToInt(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && s[i] == ' ') ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    bool hex = false;
    if (i < s.size() && (s[i] == '$' || s[i] == 'x' || s[i] == 'X')) {
        hex = true;
        ++i;
    } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }
    if (i >= s.size()) return std::nullopt;
    std::uint64_t value = 0;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (hex && c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else if (hex && c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else
            return std::nullopt;
        value = value * (hex ? 16 : 10) + digit;
        if (value > 0xFFFFFFFFull) return std::nullopt;
    }
    if (hex) {
        // Hexadecimal digits give the 32-bit pattern, so "$FFFFFFFF" is -1.
        auto bits = static_cast<std::uint32_t>(value);
        if (negative) bits = 0u - bits;
        return static_cast<std::int32_t>(bits);
    }
    if (negative) {
        if (value > 0x80000000ull) return std::nullopt;
        return static_cast<std::int32_t>(-static_cast<std::int64_t>(value));
    }
    if (value > 0x7FFFFFFFull) return std::nullopt;
    return static_cast<std::int32_t>(value);
}

std::int32_t TextToIntDef(std::string_view text, std::int32_t fallback) {
    return TextToInt(text).value_or(fallback);
}

std::int32_t HexField(std::string_view field) {
    std::string text = "0x";
    text += field;
    if (auto v = TextToInt(text)) return *v;
    throw Error(msg::NotValidInteger(text));
}

}  // namespace zv
