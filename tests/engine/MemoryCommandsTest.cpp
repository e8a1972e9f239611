// "@binget" and "@binput" over the pseudo-terminal: line syntax, the read and write
// commands on the wire, the dump file, and the files that cannot be used.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "common/Messages.h"
#include "tests/engine/DownloadRig.h"

namespace {

using namespace zv::dltest;
namespace msg = zv::msg;

class MemoryCommands : public StationRig {
protected:
    TempDir dir;

    // A file in the test's folder with the given content; its path.
    std::string File(const std::string& name, const Bytes& content) {
        WriteFile(dir / name, content);
        return dir / name;
    }
    static std::string Get(const std::string& address, const std::string& count, const std::string& file) {
        return "@binget" + address + "," + count + ">" + file;
    }
    static std::string Put(const std::string& address, const std::string& file) { return "@binput" + address + "<" + file; }
};

Bytes Pattern(std::size_t n, unsigned seed) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(seed + i * 7);
    return b;
}

std::string HexOf(const Bytes& b) {
    static const char* d = "0123456789ABCDEF";
    std::string s;
    for (auto x : b) {
        s += d[x >> 4];
        s += d[x & 15];
    }
    return s;
}

TEST_F(MemoryCommands, SyntaxAndConversionErrorsSendNothing) {
    const std::string f = File("out.bin", {});
    const std::string bad = msg::ChybaSyntaxe;
    const struct {
        std::string line, error;
    } cases[] = {
        {"@binget000000,000010", bad},                 // too short for ">"
        {"@binget000000;000010>" + f, bad},
        {"@binget000000,000010<" + f, bad},
        {"@binget00000,0000010>" + f, bad},
        {"@binput000000", bad},
        {"@binput000000>" + f, bad},
        {"@binput00000<" + f, bad},
        // The count is converted before the address.
        {"@bingetZZ0000,00001G>" + f, "'0x00001G' is not a valid integer value"},
        {"@bingetZZ0000,000010>" + f, "'0xZZ0000' is not a valid integer value"},
        {"@binget 00000,000010>" + f, "'0x 00000' is not a valid integer value"},
        {"@binget-00001,000010>" + f, "'0x-00001' is not a valid integer value"},
        {"@binput00100x<" + f, "'0x00100x' is not a valid integer value"},
    };
    for (const auto& c : cases) EXPECT_EQ(Run(c.line), c.error) << c.line;
    EXPECT_TRUE(Commands().empty());
}

TEST_F(MemoryCommands, DumpReadsInPiecesAndLeavesExactlyTheDumpInTheFile) {
    const Bytes memory = Pattern(0x41, 3);
    station().WriteMemory(0x010000, memory);
    const std::string f = File("out.bin", Bytes(200, 0xAA));  // an older, longer file

    ASSERT_EQ(Run(Get("010000", "000041", f)), "");
    EXPECT_EQ(Commands(), (Lines{"R010000,40\n\r", "R010040,01\n\r"}));
    EXPECT_EQ(ReadFile(f), memory);

    // Count 0 sends nothing; the file then holds the empty dump.
    station().ClearLog();
    ASSERT_EQ(Run(Get("010000", "000000", f)), "");
    EXPECT_TRUE(Commands().empty());
    EXPECT_TRUE(ReadFile(f).empty());

    // Past 0xFFFFFF the read commands carry seven digits.
    station().ClearLog();
    ASSERT_EQ(Run(Get("FFFFC0", "000080", f)), "");
    EXPECT_EQ(Commands(), (Lines{"RFFFFC0,40\n\r", "R1000000,40\n\r"}));
    EXPECT_EQ(ReadFile(f).size(), 0x80u);
}

TEST_F(MemoryCommands, ReadRepliesAreDecodedOrRefused) {
    const std::string f = File("out.bin", {0x55});
    const struct {
        const char* reply;
        const char* count;
        std::string error;
        Bytes file;  // the file afterwards
    } cases[] = {
        {"=0102\r", "000002", "", {1, 2}},
        {"=0102", "000002", "", {1, 2}},
        {"=0102030405\r", "000002", "", {1, 2}},  // more than asked for: the piece only
        {"=0102\r", "000004", msg::UnexpectedResponse + "=0102\r", {0x55}},
        {"=01 02\r", "000002", msg::UnexpectedResponse + "=01 02\r", {0x55}},
        {"=010", "000002", msg::UnexpectedResponse + "=010", {0x55}},
        {"=010\r", "000002", "'0x0\r' is not a valid integer value", {0x55}},
        {"=01G2\r", "000002", "'0xG2' is not a valid integer value", {0x55}},
        {"x0102\r", "000002", msg::UnexpectedResponse + "x0102\r", {0x55}},
        {"=01!\r", "000002", msg::NegativniOdpoved, {0x55}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply);
        WriteFile(f, Bytes{0x55});
        zv::Station::Faults faults;
        faults.replyText = c.reply;
        station().SetFaults(faults);
        EXPECT_EQ(Run(Get("020000", c.count, f)), c.error);
        EXPECT_EQ(ReadFile(f), c.file);
    }
}

TEST_F(MemoryCommands, ADumpNeedsAnExistingFileItCanHoldAlone) {
    const std::string missing = dir / "missing.bin";
    EXPECT_EQ(Run(Get("000000", "000010", missing)), msg::NelzeZapsatDoSouboru + missing);
    EXPECT_FALSE(std::filesystem::exists(missing)) << "a dump never creates its file";

    const std::string f = File("held.bin", {1, 2, 3});
    {
        HeldLock other(f);
        EXPECT_EQ(Run(Get("000000", "000010", f)), msg::NelzeZapsatDoSouboru + f);
    }
    EXPECT_TRUE(Commands().empty());
    EXPECT_EQ(ReadFile(f), (Bytes{1, 2, 3}));
}

TEST_F(MemoryCommands, LoadWritesThePiecesOfTheFile) {
    const Bytes content = Pattern(130, 9);
    ASSERT_EQ(Run(Put("001000", File("in.bin", content))), "");
    EXPECT_EQ(Commands(), (Lines{"W001000<" + HexOf(Bytes(content.begin(), content.begin() + 64)) + "\r",
                                 "W001040<" + HexOf(Bytes(content.begin() + 64, content.begin() + 128)) + "\r",
                                 "W001080<" + HexOf(Bytes(content.begin() + 128, content.end())) + "\r"}));
    EXPECT_EQ(station().ReadMemory(0x001000, 130), content);

    station().ClearLog();
    ASSERT_EQ(Run(Put("001000", File("empty.bin", {}))), "");
    EXPECT_TRUE(Commands().empty());
}

TEST_F(MemoryCommands, ALoadThatWouldPassTheAddressSpaceEndIsRefusedWhole) {
    const Bytes fits = Pattern(64, 1);
    ASSERT_EQ(Run(Put("FFFFC0", File("fits.bin", fits))), "");
    EXPECT_EQ(Commands(), Lines{"WFFFFC0<" + HexOf(fits) + "\r"});

    station().ClearLog();
    for (std::size_t size : {65u, 100u})
        EXPECT_EQ(Run(Put("FFFFC0", File("long.bin", Pattern(size, 2)))), msg::SouborPresahuje) << size;
    EXPECT_EQ(Run(Put("FFFFFF", File("two.bin", {1, 2}))), msg::SouborPresahuje);
    EXPECT_TRUE(Commands().empty());
    EXPECT_EQ(station().ReadMemory(0xFFFFC0, 64), fits);
}

TEST_F(MemoryCommands, AnInputFileThatCannotBeUsedStopsTheLoadBeforeAnyWrite) {
    const std::string missing = dir / "missing.bin";
    EXPECT_EQ(Run(Put("001000", missing)), msg::NelzeOtevritSoubor + missing);

    const std::string f = File("held.bin", {1, 2, 3});
    {
        HeldLock other(f);
        EXPECT_EQ(Run(Put("001000", f)), msg::NelzeOtevritSoubor + f);
    }
    // A folder opens, but reading it fails.
    const std::string folder = dir / "folder";
    std::filesystem::create_directory(folder);
    EXPECT_EQ(Run(Put("001000", folder)), msg::NelzeCistZeSouboru + folder);
    EXPECT_TRUE(Commands().empty());
}

TEST_F(MemoryCommands, FileNamesAreCp1250Text) {
    const Bytes content = {0xDE, 0xAD};
    WriteFile(dir / "v\xC3\xBDpis.bin", content);  // "výpis.bin" in the file system's UTF-8
    const std::string cp1250 = dir / "v\xFDpis.bin";
    ASSERT_EQ(Run(Put("002000", cp1250)), "");
    EXPECT_EQ(station().ReadMemory(0x002000, 2), content);

    WriteFile(dir / "\xC5\xBE.bin", Bytes{});  // "ž.bin"
    station().WriteMemory(0x003000, {7, 8, 9});
    ASSERT_EQ(Run(Get("003000", "000003", dir / "\x9E.bin")), "");
    EXPECT_EQ(ReadFile(dir / "\xC5\xBE.bin"), (Bytes{7, 8, 9}));
}

}  // namespace
