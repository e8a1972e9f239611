#pragma once
// The station's monitor: what each command does to the station's state and the text it
// answers with. No I/O; the Station serves it on the line.
//
// Text commands end in CR; every reply text ends in CR.
//   I...                         "ZV384 monitor 1.0, stanice <address>"
//   rpl2                         "ok"
//   R<addr 6-7 hex>,<nn> LF      "=" and two upper-case hex digits a byte (nn up to 7C)
//   W<addr 6 hex><<hex pairs>    "*"; W700000< with 8 bytes also keeps the serial number
//   W00004F<<code>               none; the pacing speed follows the code
//   GYYYYMMDD,HHMMSSWW:FF0040    "ok"; the clock text is kept
//   G00700000,00000008,00FFFE17:FF0014   ">00000000"
//   G:...                        none
//   S0, S5, S7, S8, S9 records   "*"
//   s-blok / n-blok (binary)     "*" and the block address in 6 hex digits (8 characters);
//                                "!CRC" for a wrong CRC, "!BLK" for a malformed block
//   anything else, or no CR      "?"
// Addresses wrap at 24 bits.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zv::station {

struct MonitorState {
    std::uint8_t address = 127;
    std::vector<std::uint8_t> memory;   // 16 MiB
    std::string clock;                  // the last clock command without its CR
    std::optional<std::array<std::uint8_t, 8>> serial;
    std::optional<std::int32_t> newSpeed;   // set by a speed command, taken by the caller
};

// The reply text for one command (the request data after 0xF5), or none for the
// commands that get no reply.
std::optional<std::string> Execute(MonitorState& s, const std::string& command);

// The speed of a speed-command code, 0 for an unknown code.
std::int32_t SpeedOfCode(unsigned code);

}  // namespace zv::station
