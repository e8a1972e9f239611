#pragma once
// Text to integer, the rule every link-setting text and every hexadecimal field is read by:
// optional leading blanks, an optional sign, then decimal digits, or hexadecimal digits
// after "$", "x", "X" or "0x". Anything else (an empty text, trailing blanks, any other
// character, a value outside 32 bits) does not convert.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zv {

std::optional<std::int32_t> TextToInt(std::string_view text);

// The reader's fallback when the text does not convert.
std::int32_t TextToIntDef(std::string_view text, std::int32_t fallback);

// A hexadecimal field: "0x" is put in front of the field's characters and the result
// converted; raises "'0x<field>' is not a valid integer value" when it does not convert.
std::int32_t HexField(std::string_view field);

}  // namespace zv
