#pragma once
// The small platform layer beneath Tsiocom. Placeholder types; the serial-link work
// replaces this file.
#include <cstdint>

namespace zv::posix {
struct LineSettings {};
struct Timeouts {};
class SerialPort {};
}  // namespace zv::posix
