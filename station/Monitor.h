#pragma once
// The station's monitor: what each command does to the station's state and the text it
// answers with. No I/O; the Station serves it on the line.
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
