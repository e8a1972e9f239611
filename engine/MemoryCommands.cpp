// "@binget" and "@binput": device memory to a file and a file to device memory, in pieces
// of 64 bytes through the monitor's read and write commands.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "common/Cp1250.h"
#include "common/Error.h"
#include "common/Messages.h"
#include "common/TextToInt.h"
#include "engine/LockedFile.h"
#include "engine/Prikazy.h"

namespace {

constexpr std::int64_t kPiece = 64;
constexpr std::int64_t kAddressSpaceEnd = 0x1000000;
constexpr std::size_t kMaxFileName = 500;

}  // namespace

// "@binget" AAAAAA "," CCCCCC ">" file
void TPrikaz::BinGetLine(const std::string& line) {
    if (line.size() < 21 || line[13] != ',' || line[20] != '>') throw zv::Error(zv::msg::ChybaSyntaxe);
    const std::string file = line.substr(21, kMaxFileName);
    const std::int32_t count = zv::HexField(std::string_view(line).substr(14, 6));
    const std::int32_t address = zv::HexField(std::string_view(line).substr(7, 6));
    BinGet(address, count, file);
}

// "@binput" AAAAAA "<" file
void TPrikaz::BinPutLine(const std::string& line) {
    if (line.size() < 14 || line[13] != '<') throw zv::Error(zv::msg::ChybaSyntaxe);
    const std::int32_t address = zv::HexField(std::string_view(line).substr(7, 6));
    BinPut(address, line.substr(14, kMaxFileName));
}

void TPrikaz::BinGet(std::int32_t address, std::int32_t count, const std::string& file) {
    // The file must exist; it is neither created nor truncated until the dump is complete.
    zv::LockedFile out;
    if (!out.Open(zv::Cp1250ToUtf8(file), O_WRONLY)) throw zv::Error(zv::msg::NelzeZapsatDoSouboru + file);

    const std::int64_t end = static_cast<std::int64_t>(address) + count;
    std::int64_t dumped = 0;
    for (std::int64_t pos = address; pos < end; pos += kPiece) {
        const int piece = static_cast<int>(std::min(kPiece, end - pos));
        char command[32];
        std::snprintf(command, sizeof command, "R%06llX,%02X\n", static_cast<unsigned long long>(pos),
                      static_cast<unsigned>(piece));
        ExecuteLine(command);

        const std::string& reply = FResponse;
        if (reply.empty() || reply[0] != '=') throw zv::Error(zv::msg::UnexpectedResponse + reply);
        // "=" and two hex digits a byte, ending at the first character below "0" (the
        // reply's carriage return). A reply with fewer bytes than asked for would shift
        // the rest of the dump, so it fails; bytes beyond the piece are not taken.
        std::uint8_t bytes[kPiece];
        int k = 0;
        for (; k < piece; ++k) {
            const std::size_t p = 1 + 2 * static_cast<std::size_t>(k);
            if (p >= reply.size() || static_cast<unsigned char>(reply[p]) < '0') break;
            if (p + 1 == reply.size()) break;  // a lone digit at the very end is no byte
            bytes[k] = static_cast<std::uint8_t>(zv::HexField(std::string_view(reply).substr(p, 2)));
        }
        if (k < piece) throw zv::Error(zv::msg::UnexpectedResponse + reply);
        if (!out.WriteAll(bytes, static_cast<std::size_t>(k))) throw zv::Error(zv::msg::NelzeZapsatDoSouboru + file);
        dumped += k;
    }
    // No byte of an older, longer file may stay behind the dump.
    if (::ftruncate(out.Fd(), static_cast<off_t>(dumped)) != 0) throw zv::Error(zv::msg::NelzeZapsatDoSouboru + file);
}

void TPrikaz::BinPut(std::int32_t address, const std::string& file) {
    zv::LockedFile in;
    if (!in.Open(zv::Cp1250ToUtf8(file), O_RDONLY)) throw zv::Error(zv::msg::NelzeOtevritSoubor + file);
    struct stat st {};
    if (::fstat(in.Fd(), &st) != 0) throw zv::Error(zv::msg::NelzeCistZeSouboru + file);
    // A file that does not fit would lose its tail without a word: refuse it whole.
    if (static_cast<std::int64_t>(address) + static_cast<std::int64_t>(st.st_size) > kAddressSpaceEnd)
        throw zv::Error(zv::msg::SouborPresahuje);

    static constexpr char kDigits[] = "0123456789ABCDEF";
    for (std::int64_t pos = address; pos < kAddressSpaceEnd; pos += kPiece) {
        std::uint8_t bytes[kPiece];
        const ssize_t n = in.ReadUpTo(bytes, static_cast<std::size_t>(std::min(kPiece, kAddressSpaceEnd - pos)));
        if (n < 0) throw zv::Error(zv::msg::NelzeCistZeSouboru + file);
        if (n == 0) break;
        char head[16];
        std::snprintf(head, sizeof head, "W%06llX<", static_cast<unsigned long long>(pos));
        std::string command = head;
        for (ssize_t i = 0; i < n; ++i) {
            command += kDigits[bytes[i] >> 4];
            command += kDigits[bytes[i] & 0x0F];
        }
        ExecuteLine(command);
    }
}
