// "@speed", "@SRTC" and "@SSN": the service commands that need more than one fixed
// monitor command.
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <string>

#include "common/Clock.h"
#include "common/Error.h"
#include "common/Messages.h"
#include "engine/LockedFile.h"
#include "engine/Prikazy.h"

namespace {

// Index in the link's speed list, and the code the station takes for it.
struct SpeedChoice {
    char key;
    int index;
    unsigned code;
};
constexpr SpeedChoice kSpeedChoices[] = {
    {'1', 13, 0x01},  // 384000
    {'2', 12, 0x02},  // 192000
    {'3', 11, 0x03},  // 128000
    {'4', 10, 0x04},  // 96000
    {'5', 9, 0x05},   // 76800
    {'n', 7, 0x0A},   // 38400
};

// The station switches only from 38400 and from 76800 upwards.
bool SpeedSwitchAllowedFrom(int index) { return index == 7 || (index >= 9 && index <= 13); }

constexpr char kRecordFile[] = "rexa01.prn";
constexpr std::size_t kMaxRecordText = 300;
constexpr char kCallOk[] = ">00000000";

}  // namespace

void TPrikaz::Speed(const std::string& line) {
    if (line.size() != 7) throw zv::Error(zv::msg::ChybnyPrikazSpeed);
    if (!SpeedSwitchAllowedFrom(FLink.SpeedIndex())) throw zv::Error(zv::msg::NevhodnaVychoziRychlost);
    const SpeedChoice* choice = nullptr;
    for (const SpeedChoice& c : kSpeedChoices)
        if (c.key == line[6]) choice = &c;
    if (!choice) throw zv::Error(zv::msg::ChybneUrceniRychlosti);

    // The selection alone leaves the port at the old speed, at which the station still
    // takes the command; only then does the link follow.
    FLink.SelectSpeed(choice->index);
    char command[16];
    std::snprintf(command, sizeof command, "~W00004F<%02X", choice->code);
    ExecuteLine(command);
    FLink.ApplySettings();
}

void TPrikaz::Srtc() {
    const std::tm t = zv::LocalNow();
    char command[96];
    std::snprintf(command, sizeof command, "G%04d%02d%02d,%02d%02d%02d%02d:FF0040", t.tm_year + 1900, t.tm_mon + 1,
                  t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, t.tm_wday);
    ExecuteLine(command);
}

void TPrikaz::Ssn(const std::string& line) {
    // "@SSN", 8 characters of serial number, one separator, then the record text.
    if (line.size() < 12) throw zv::Error(zv::msg::ChybnyPrikazSsn);
    const std::string serial = line.substr(4, 8);
    const std::string text = line.size() > 13 ? line.substr(13, kMaxRecordText) : std::string();
    const std::size_t semicolon = text.find(';');
    const std::string first = semicolon == std::string::npos ? text : text.substr(0, semicolon);
    const std::string second = semicolon == std::string::npos ? std::string() : text.substr(semicolon + 1);

    // The record file is never created: its presence marks a production workplace.
    zv::LockedFile record;
    if (!record.Open(kRecordFile, O_WRONLY | O_APPEND)) throw zv::Error(zv::msg::AccessDenied);

    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string write = "W700000<";
    for (char c : serial) {
        const auto b = static_cast<unsigned char>(c);
        write += kDigits[b >> 4];
        write += kDigits[b & 0x0F];
    }
    ExecuteLine(write);
    ExecuteLine("G00700000,00000008,00FFFE17:FF0014");
    if (FResponse.compare(0, sizeof kCallOk - 1, kCallOk) != 0) throw zv::Error(zv::msg::NegativeResponse);

    const std::tm t = zv::LocalNow();
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04d/%02d/%02d,%02d:%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                  t.tm_hour, t.tm_min);
    const std::string entry =
        "\"\",\"\",\"" + first + "\",\"" + serial + "\",\"\",\"" + second + "\",\"" + stamp + "\"\r\n";
    // One write, on the disc before the file is closed: a record is in the file whole or not at all.
    if (!record.WriteAll(entry.data(), entry.size()) || ::fsync(record.Fd()) != 0)
        throw zv::Error(zv::msg::NelzeZapsatRekord);
}
