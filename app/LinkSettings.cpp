#include "app/LinkSettings.h"

#include <algorithm>
#include <cstddef>

#include "common/TextToInt.h"
#include "link/Tsigs.h"

const std::array<std::string_view, 9> LinkSettings::kPorts = {
    "COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8", "COM9"};
const std::array<std::string_view, 14> LinkSettings::kSpeeds = {
    "2400",  "4800",  "7200",  "9600",   "14400",  "19200",  "28800",
    "38400", "57600", "76800", "96000", "128000", "192000", "384000"};
const std::array<std::string_view, 3> LinkSettings::kParities = {"none", "odd", "even"};

namespace {

// The text of a list item, empty when nothing (or nothing valid) is selected, like a
// drop-down list without a selection.
template <std::size_t N>
std::string ItemText(const std::array<std::string_view, N>& items, int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= N) return {};
    return std::string(items[static_cast<std::size_t>(index)]);
}

// Option texts are matched case-insensitively in ASCII only: the arguments are CP1250
// bytes and no option holds a letter outside ASCII.
bool EqualsNoCase(std::string_view a, std::string_view b) {
    auto up = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return up(x) == up(y); });
}

struct Option {
    std::string_view text;
    enum { Speed, Port, Parity } what;
    int item;
};

// Every fixed option text; "D" and "S" take any text and are handled apart.
constexpr Option kOptions[] = {
    {"b2400", Option::Speed, 0},    {"b4800", Option::Speed, 1},
    {"b7200", Option::Speed, 2},    {"b9600", Option::Speed, 3},
    {"b14400", Option::Speed, 4},   {"b19200", Option::Speed, 5},
    {"b28800", Option::Speed, 6},   {"b38400", Option::Speed, 7},
    {"b56700", Option::Speed, 8},  // 57600, spelled so since the first release
    {"b76800", Option::Speed, 9},   {"b96000", Option::Speed, 10},
    {"b128000", Option::Speed, 11}, {"b192000", Option::Speed, 12},
    {"b384000", Option::Speed, 13},
    {"COM1", Option::Port, 0},      {"COM2", Option::Port, 1},
    {"COM3", Option::Port, 2},      {"COM4", Option::Port, 3},
    {"COM5", Option::Port, 4},      {"COM6", Option::Port, 5},
    {"COM7", Option::Port, 6},      {"COM8", Option::Port, 7},
    {"COM9", Option::Port, 8},
    {"i4", Option::Port, 0},        {"i3", Option::Port, 1},  // interrupt lines of COM1, COM2
    {"p3f8", Option::Port, 0},      {"p2f8", Option::Port, 1},  // their I/O base addresses
    {"m0", Option::Parity, 0},      {"m1", Option::Parity, 1},
    {"m2", Option::Parity, 2},
};

}  // namespace

LinkSettings::LinkSettings(Tsiocom& port)
    : RunOnFrontEnd([](const std::function<void()>& call) { call(); }), FPort(port) {}

void LinkSettings::OnFrontEnd(const std::function<void()>& call) {
    if (RunOnFrontEnd)
        RunOnFrontEnd(call);
    else
        call();
}

LinkSettings::Values LinkSettings::Get() const {
    std::lock_guard lock(FMutex);
    return FValues;
}

void LinkSettings::SetPort(int index) {
    std::lock_guard lock(FMutex);
    FValues.port = index;
}

void LinkSettings::SetSpeed(int index) {
    std::lock_guard lock(FMutex);
    FValues.speed = index;
}

void LinkSettings::SetParity(int index) {
    std::lock_guard lock(FMutex);
    FValues.parity = index;
}

void LinkSettings::SetTimeout(std::string text) {
    std::lock_guard lock(FMutex);
    FValues.timeout = std::move(text);
}

void LinkSettings::SetRts(bool on) {
    std::lock_guard lock(FMutex);
    FValues.rts = on;
}

void LinkSettings::SetStation(std::string text) {
    std::lock_guard lock(FMutex);
    FValues.station = std::move(text);
}

void LinkSettings::SetSource(std::string text) {
    std::lock_guard lock(FMutex);
    FValues.source = std::move(text);
}

void LinkSettings::COMportChange() {
    FPort.Close();
    // One snapshot, so that a value changed meanwhile cannot mix two states. The model's
    // lock is not held across Open, which waits for a running exchange.
    const Values v = Get();
    const std::int32_t parity = v.parity;
    const std::int32_t timeout = zv::TextToIntDef(v.timeout, 290);
    const bool rts = v.rts;
    const std::int32_t speed = zv::TextToIntDef(ItemText(kSpeeds, v.speed), 38400);
    const std::string port = ItemText(kPorts, v.port);
    FPort.Open(port, speed, parity, timeout, rts);
}

void LinkSettings::ProcessArguments(const std::vector<std::string>& args,
                                    TPendingLines& pending) {
    SetPort(kStartPort);
    SetSpeed(kStartSpeed);
    SetParity(kStartParity);

    for (const std::string& arg : args) {
        if (arg.find('.') != std::string::npos) {
            pending.push_back(arg);
            continue;
        }
        const auto option = std::find_if(std::begin(kOptions), std::end(kOptions),
                                         [&](const Option& o) { return EqualsNoCase(arg, o.text); });
        if (option != std::end(kOptions)) {
            switch (option->what) {
                case Option::Speed: SetSpeed(option->item); break;
                case Option::Port: SetPort(option->item); break;
                case Option::Parity: SetParity(option->item); break;
            }
            continue;
        }
        const char first = arg.empty() ? '\0' : arg.front();
        if (first == 'D' || first == 'd' || first == 'S' || first == 's') {
            // An address field set from the command line is a change like a user's edit:
            // a new text reopens the port with the settings given so far.
            const bool station = (first == 'D' || first == 'd');
            std::string text = arg.substr(1);
            const Values v = Get();
            if ((station ? v.station : v.source) == text) continue;
            if (station)
                SetStation(std::move(text));
            else
                SetSource(std::move(text));
            COMportChange();
            continue;
        }
        pending.push_back(arg);
    }

    COMportChange();
}

std::int32_t LinkSettings::StationAddress() const {
    return zv::TextToIntDef(Get().station, 127);
}

std::int32_t LinkSettings::SourceAddress() const {
    return zv::TextToIntDef(Get().source, 100);
}

std::int32_t LinkSettings::ReplyTimeout() const {
    return zv::TextToIntDef(Get().timeout, 260);
}

int LinkSettings::SpeedIndex() const {
    return Get().speed;
}

void LinkSettings::SelectSpeed(int index) {
    OnFrontEnd([this, index] {
        SetSpeed(index);
        if (SpeedSelected) SpeedSelected(index);
    });
}

void LinkSettings::ApplySettings() {
    OnFrontEnd([this] { COMportChange(); });
}
