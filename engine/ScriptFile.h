#pragma once
// Script files as text: how a file's bytes become script lines, and how a script's file
// name becomes a name the file system knows.
#include <string>
#include <string_view>
#include <vector>

namespace zv {

// Script files open at once, the file job's own file included.
inline constexpr int kMaxOpenScriptFiles = 16;

// Splits at CR LF, a lone CR and a lone LF; a NUL byte ends the text; a line end at the
// very end adds no empty line. Lines are returned byte for byte, nothing trimmed.
std::vector<std::string> SplitScriptLines(std::string_view text);

// A file name written in a script is CP1250 text; file names here are UTF-8.
std::string ScriptNameToPath(const std::string& cp1250Name);

}  // namespace zv
