#pragma once
// The character time that scales the port's time-outs, in whole milliseconds: 1 above
// 9600 Bd, else 11000 / speed with parity and 10000 / speed without (rounded down).
#include <cstdint>

namespace zv::link {

constexpr std::int32_t CharTime(std::int32_t speed, bool parity) {
    if (speed > 9600 || speed < 1) return 1;  // below 1 never reaches an open port
    return (parity ? 11000 : 10000) / speed;
}

}  // namespace zv::link
