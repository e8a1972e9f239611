#include "station/Monitor.h"

#include <bit>
#include <cstdio>
#include <string_view>

#include "station/Frame.h"

namespace zv::station {

namespace {

constexpr std::uint32_t kAddrMask = 0xFFFFFF;   // memory is 24-bit and wraps
constexpr std::size_t kMaxText = 251;           // LE 255 minus DA SA FC and 0xF5

const std::string kUnknown = "?\r";
const std::string kBadBlock = "!BLK\r";
const std::string kBadCrc = "!CRC\r";
const std::string kDone = "*\r";
const std::string kOk = "ok\r";

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Exactly the hex digits of t, or none.
std::optional<std::uint32_t> Hex(std::string_view t) {
    if (t.empty() || t.size() > 8) return std::nullopt;
    std::uint32_t v = 0;
    for (char c : t) {
        const int d = HexDigit(c);
        if (d < 0) return std::nullopt;
        v = (v << 4) | static_cast<std::uint32_t>(d);
    }
    return v;
}

std::optional<std::vector<std::uint8_t>> HexBytes(std::string_view t) {
    if (t.size() % 2 != 0) return std::nullopt;
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i < t.size(); i += 2) {
        const auto b = Hex(t.substr(i, 2));
        if (!b) return std::nullopt;
        out.push_back(static_cast<std::uint8_t>(*b));
    }
    return out;
}

bool AllDigits(std::string_view t) {
    for (char c : t)
        if (c < '0' || c > '9') return false;
    return !t.empty();
}

void Store(MonitorState& s, std::uint32_t address, const std::uint8_t* bytes, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) s.memory[(address + i) & kAddrMask] = bytes[i];
}

std::string Ack(std::uint32_t address) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "*%06X\r", static_cast<unsigned>(address & kAddrMask));
    return buf;
}

std::uint8_t U8(char c) { return static_cast<std::uint8_t>(c); }

std::uint32_t Addr24(const std::string& p) {
    return U8(p[1]) | (std::uint32_t{U8(p[2])} << 8) | (std::uint32_t{U8(p[3])} << 16);
}

bool CrcOk(const std::string& p) {
    const auto* b = reinterpret_cast<const std::uint8_t*>(p.data());
    const std::uint16_t crc = BlockCrc(b, p.size() - 2);
    return U8(p[p.size() - 2]) == (crc & 0xFF) && U8(p[p.size() - 1]) == (crc >> 8);
}

// A download block, when the payload has the shape of one.
std::optional<std::string> Block(MonitorState& s, const std::string& p) {
    if (p[0] == 's' && p.size() >= 8) {
        const std::size_t count = U8(p[4]);
        if (count < 1 || count > 128 || p.size() != count + 7) return std::nullopt;
        if (!CrcOk(p)) return kBadCrc;
        const std::uint32_t a = Addr24(p);
        Store(s, a, reinterpret_cast<const std::uint8_t*>(p.data()) + 5, count);
        return Ack(a);
    }
    if (p[0] == 'n' && p.size() >= 22) {
        std::size_t m = 0;
        for (std::size_t i = 4; i < 20; ++i) m += static_cast<std::size_t>(std::popcount(U8(p[i])));
        if (m < 1 || p.size() != m + 22) return std::nullopt;
        if (!CrcOk(p)) return kBadCrc;
        const std::uint32_t base = Addr24(p);
        if ((base & 0x7F) != 0) return kBadBlock;
        std::size_t k = 20;
        for (unsigned j = 0; j < 128; ++j)
            if (U8(p[4 + j / 8]) & (1u << (j % 8))) s.memory[(base + j) & kAddrMask] = U8(p[k++]);
        return Ack(base);
    }
    return std::nullopt;
}

bool LooksLikeText(const std::string& c) {
    if (c.empty() || c.back() != '\r') return false;
    for (std::size_t i = 0; i + 1 < c.size(); ++i) {
        const auto b = U8(c[i]);
        if ((b < 0x20 || b > 0x7E) && b != '\n') return false;
    }
    return true;
}

std::optional<std::string> Read(const MonitorState& s, std::string_view t) {
    // R<address, 6 or 7 hex digits>,<count, 2 hex digits> LF
    const auto comma = t.find(',');
    if (comma == std::string_view::npos || t.back() != '\n') return kUnknown;
    const auto addr = comma >= 7 && comma <= 8 ? Hex(t.substr(1, comma - 1)) : std::nullopt;
    const auto rest = t.substr(comma + 1, t.size() - comma - 2);
    const auto count = rest.size() == 2 ? Hex(rest) : std::nullopt;
    if (!addr || !count || 1 + 2 * *count + 1 > kMaxText) return kUnknown;
    static const char* digits = "0123456789ABCDEF";
    std::string r = "=";
    for (std::uint32_t i = 0; i < *count; ++i) {
        const std::uint8_t b = s.memory[(*addr + i) & kAddrMask];
        r += digits[b >> 4];
        r += digits[b & 0xF];
    }
    return r + "\r";
}

std::optional<std::string> Text(MonitorState& s, std::string_view t) {
    if (t.starts_with("G:")) return std::nullopt;   // go: the monitor leaves, no reply
    if (t.starts_with("W00004F<") && t.size() == 10) {
        const auto code = Hex(t.substr(8));
        if (code && SpeedOfCode(*code) != 0) s.newSpeed = SpeedOfCode(*code);
        return std::nullopt;
    }
    if (t == "rpl2") return kOk;
    if (t.starts_with("I")) {
        return "ZV384 monitor 1.0, stanice " + std::to_string(s.address) + "\r";
    }
    if (t.starts_with("R")) return Read(s, t);
    if (t.starts_with("W") && t.size() >= 8 && t[7] == '<') {
        const auto addr = Hex(t.substr(1, 6));
        const auto bytes = HexBytes(t.substr(8));
        if (!addr || !bytes || 1 + 2 * bytes->size() > kMaxText) return kUnknown;
        Store(s, *addr, bytes->data(), bytes->size());
        if (*addr == 0x700000 && bytes->size() == 8) {
            std::array<std::uint8_t, 8> sn{};
            for (std::size_t i = 0; i < 8; ++i) sn[i] = (*bytes)[i];
            s.serial = sn;
        }
        return kDone;
    }
    if (t == "G00700000,00000008,00FFFE17:FF0014") return ">00000000\r";
    // Clock: GYYYYMMDD,HHMMSSWW:FF0040
    if (t.size() == 25 && t[0] == 'G' && t[9] == ',' && t.substr(18) == ":FF0040" &&
        AllDigits(t.substr(1, 8)) && AllDigits(t.substr(10, 8))) {
        s.clock = std::string(t);
        return kOk;
    }
    // S-record header, count and end records are taken as they come.
    if (t.size() >= 2 && t[0] == 'S' && std::string_view("05789").find(t[1]) != std::string_view::npos)
        return kDone;
    return kUnknown;
}

}  // namespace

std::int32_t SpeedOfCode(unsigned code) {
    switch (code) {
        case 0x01: return 384000;
        case 0x02: return 192000;
        case 0x03: return 128000;
        case 0x04: return 96000;
        case 0x05: return 76800;
        case 0x0A: return 38400;
        default: return 0;
    }
}

std::optional<std::string> Execute(MonitorState& s, const std::string& command) {
    if (!command.empty() && (command[0] == 's' || command[0] == 'n')) {
        const auto r = Block(s, command);
        const bool text = LooksLikeText(command);
        if (r && !(text && *r == kBadCrc)) return r;
        if (!text) return kBadBlock;
    }
    if (!LooksLikeText(command)) return kUnknown;
    return Text(s, std::string_view(command).substr(0, command.size() - 1));
}

}  // namespace zv::station
