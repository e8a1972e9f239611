// The script line interpreter: the line kinds, the special commands, the reply check and
// text commands with their attempts and the judgement of the reply.
#include <string>
#include <string_view>

#include "common/Error.h"
#include "common/Messages.h"
#include "engine/Prikazy.h"
#include "engine/ScriptFile.h"
#include "engine/ScriptLine.h"

namespace {

constexpr int kAttempts = 3;
constexpr std::size_t kMaxArgument = 200;  // after the first character of "#", "!" and "~" lines
constexpr std::size_t kMinDataRecord = 12;
constexpr char kCarriageReturn = '\x0D';

bool StartsWith(std::string_view line, std::string_view prefix) {
    return line.substr(0, prefix.size()) == prefix;
}

}  // namespace

namespace zv {

void CheckReply(const std::string& check, const std::string& response) {
    // "expected" or "expected!own message": the expected text ends before a second "!".
    const std::size_t bang = check.find('!');
    const std::string expected = bang == std::string::npos ? check : check.substr(0, bang);
    if (!expected.empty() && response.find(expected) != std::string::npos) return;
    if (bang == std::string::npos) throw Error(msg::NespravnaOdpovedReply + response);
    const std::string own = check.substr(bang + 1);
    throw Error(own.empty() ? check : own);
}

void JudgeReply(std::string_view command, const std::string& response) {
    if (response.empty()) throw Error(msg::PrazdnaOdpoved);
    if (response.find_first_of("!?") != std::string::npos) throw Error(msg::NegativniOdpoved);
    if (command.size() >= kMinDataRecord && StartsWith(command, "S8") &&
        response.find('*') == std::string::npos)
        throw Error(msg::NespravnaOdezva + response);
}

}  // namespace zv

void TPrikaz::ExecuteLine(const std::string& line) {
    if (line.empty()) return;

    switch (line[0]) {
    case ';':
        return;

    case '#':
        // The file job is the first open file; the include that would open one more than
        // the limit fails here, so a file that includes itself ends instead of recursing.
        if (FFileDepth >= zv::kMaxOpenScriptFiles) throw zv::Error(zv::msg::PrilisMnohoVnorenych);
        ExecuteFile(line.substr(1, kMaxArgument));
        return;

    case '!':
        zv::CheckReply(line.substr(1, kMaxArgument), FResponse);
        return;

    case '@':
        if (StartsWith(line, "@speed")) {
            Speed(line);
            return;
        }
        if (StartsWith(line, "@binget")) {
            BinGetLine(line);
            return;
        }
        if (StartsWith(line, "@binput")) {
            BinPutLine(line);
            return;
        }
        if (line == "@SRTC") {
            Srtc();
            return;
        }
        if (StartsWith(line, "@SSN")) {
            Ssn(line);
            return;
        }
        break;  // any other "@" word goes to the station as it stands

    case 'S':
        if (line.size() >= kMinDataRecord && line[1] == '2') {
            LoadSRecord(line);
            return;
        }
        break;

    default:
        break;
    }

    // Text command. An end record closes a download: its last block goes first.
    if (StartsWith(line, "S7") || StartsWith(line, "S8") || StartsWith(line, "S9")) FlushBlock();

    Report(zv::msg::OdesilaSePrikaz + line);
    std::string command;
    if (line[0] == '~') {
        FNoReply = true;
        command = line.substr(1, kMaxArgument);
    } else {
        FNoReply = false;
        command = line;
    }
    command += kCarriageReturn;
    FResponse.clear();

    bool accepted = false;
    for (int attempt = 1; attempt <= kAttempts && !accepted; ++attempt) {
        if (FStop) throw zv::Error(zv::msg::Zastaven);
        if (attempt > 1) Report(zv::msg::OpakujeSePrikaz + command);
        accepted = Exchange(reinterpret_cast<const std::uint8_t*>(command.data()),
                            static_cast<std::int32_t>(command.size()));
    }
    if (!accepted) throw zv::Error(zv::msg::BezOdezvy);

    if (FNoReply) FResponse = "ok";
    Report(zv::msg::Odpoved + FResponse);

    zv::JudgeReply(command, FResponse);
}
