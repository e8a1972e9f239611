#pragma once
// CP1250 <-> UTF-8. The engine works in CP1250 bytes; the edges (console, batch
// output, typed lines, file names) convert.
#include <string>
#include <string_view>

namespace zv {

// Every byte decodes; the five bytes CP1250 leaves undefined map to the C1 code
// points of the same value, so that decoding and encoding again gives the same bytes.
std::string Cp1250ToUtf8(std::string_view cp1250);

// A character outside CP1250, and an invalid UTF-8 sequence, becomes `replacement`.
std::string Utf8ToCp1250(std::string_view utf8, char replacement = '?');

}  // namespace zv
