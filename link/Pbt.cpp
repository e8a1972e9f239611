#include "link/Pbt.h"

namespace zv::pbt {

std::uint8_t Fcs(const std::uint8_t* p, std::size_t n) {
    unsigned sum = 0;
    for (std::size_t i = 0; i < n; ++i) sum += p[i];
    return static_cast<std::uint8_t>(sum);
}

std::size_t BuildFrame(const std::uint8_t* in, std::int32_t length, std::uint8_t* out) {
    if (length == 1) {
        out[0] = kSC;
        return 1;
    }
    if (length == 6) {
        out[0] = kSD1;
        out[1] = in[1];
        out[2] = in[2];
        out[3] = in[3];
        out[4] = Fcs(out + 1, 3);
        out[5] = kEnd;
        return 6;
    }
    const auto le = static_cast<std::size_t>(length - 6);
    out[0] = kSD2;
    out[1] = out[2] = static_cast<std::uint8_t>(le);
    out[3] = kSD2;
    for (std::size_t i = 0; i < le; ++i) out[4 + i] = in[4 + i];
    out[4 + le] = Fcs(out + 4, le);
    out[5 + le] = kEnd;
    return le + 6;
}

bool ValidSd1(const std::uint8_t* f) {
    return f[0] == kSD1 && f[4] == Fcs(f + 1, 3) && f[5] == kEnd;
}

bool ValidSd2Head(const std::uint8_t* f) {
    return f[0] == kSD2 && f[1] == f[2] && f[3] == kSD2;
}

bool ValidSd2Tail(const std::uint8_t* f) {
    const std::size_t le = f[1];
    return f[5 + le] == kEnd && f[4 + le] == Fcs(f + 4, le);
}

}  // namespace zv::pbt
