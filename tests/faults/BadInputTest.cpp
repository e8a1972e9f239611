// Bad input, each as a job of the worker: broken S-records, files that cannot be read,
// NUL bytes, very long lines and random bytes. Each ends with a clear error or runs as the
// script language says, and nothing reaches the station that should not.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "tests/faults/FaultRig.h"

namespace {

using namespace zv::faulttest;

const std::string kOk = msg::Odpoved + "ok\r";
const std::string kRpl2 = msg::OdesilaSePrikaz + "rpl2";

std::string Failed(const std::string& file, int index, const std::string& why, const std::string& before = "") {
    return "Soubor:" + file + msg::RadekPrefix + std::to_string(index) + msg::IndexSeparator + why + " " + before;
}

class BadInput : public FaultRig {};

// A record broken in each field stores nothing and sends nothing: not even the block that
// a good record for the next window would have sent. The failed job drops that block.
TEST_F(BadInput, BrokenSRecordsSendNoBlock) {
    const std::string good = Rec(0x030080, {0xA1, 0xB2, 0xC3});  // S2 07 030080 A1B2C3 cs
    ASSERT_EQ(good.size(), 18u);
    auto with = [&](std::size_t pos, const std::string& text) { return good.substr(0, pos) + text + good.substr(pos + text.size()); };
    auto bad = [](const std::string& l) { return msg::VadnyRadek + l; };
    struct Case {
        const char* name;
        std::string record;
        std::string error;  // "" : the line itself in a bad-line error
    };
    const std::vector<Case> cases = {
        {"count one too high", with(2, "08"), ""},
        {"count one too low", with(2, "06"), ""},
        {"count below 4", with(2, "03"), ""},
        {"count not hex", with(2, "0G"), msg::NotValidInteger("0x0G")},
        {"sign in the count", with(2, "+7"), msg::NotValidInteger("0x+7")},
        {"address changed", with(4, "030081"), ""},
        {"address not hex", with(4, "03008Z"), msg::NotValidInteger("0x03008Z")},
        {"blank in the address", with(4, "03 080"), msg::NotValidInteger("0x03 080")},
        {"address and count not hex", with(2, "XX03008Z"), msg::NotValidInteger("0x03008Z")},
        {"data changed", with(12, "B3"), ""},
        {"data not hex", with(12, "BZ"), msg::NotValidInteger("0xBZ")},
        {"check sum changed", good.substr(0, 16) + (good.substr(16) == "00" ? "01" : "00"), ""},
        {"check sum not hex", with(16, "G0"), msg::NotValidInteger("0xG0")},
        {"a digit missing", good.substr(0, 17), ""},
        {"a blank after the check sum", good + " ", ""},
        {"two digits too many", good + "00", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        station().ClearLog();
        const std::string file = dir.Write("broken.s24", Joined({Rec(0x030000, {1, 2, 3, 4}), c.record, "S804030000F8"}));
        const Lines reports = FileJob(file);
        EXPECT_EQ(worker->FError, Failed(file, 1, c.error.empty() ? bad(c.record) : c.error));
        EXPECT_EQ(reports, (Lines{worker->FError, kInterrupted}));
        EXPECT_TRUE(Commands().empty()) << ::testing::PrintToString(Commands());
        EXPECT_EQ(worker->FBlockBase, 0);
    }
    // The same file with the good record goes through.
    EXPECT_EQ(FileJob(dir.Write("good.s24", Joined({Rec(0x030000, {1, 2, 3, 4}), good, "S804030000F8"}))).back(), kDone);
    EXPECT_EQ(station().ReadMemory(0x030080, 3), (Bytes{0xA1, 0xB2, 0xC3}));
}

// A FIFO that nobody writes to, as a file name: the job must not hang in open(). If it
// does, the guard opens the other end on the way out so that the test can still end.
class Fifo {
public:
    explicit Fifo(std::string path) : FPath(std::move(path)) { FOk = ::mkfifo(FPath.c_str(), 0600) == 0; }
    ~Fifo() {
        for (int flags : {O_WRONLY | O_NONBLOCK, O_RDONLY | O_NONBLOCK}) {
            const int fd = ::open(FPath.c_str(), flags | O_CLOEXEC);
            if (fd >= 0) ::close(fd);
        }
    }
    bool Ok() const { return FOk; }
    const std::string& Path() const { return FPath; }

private:
    std::string FPath;
    bool FOk = false;
};

// Names that do not open as a script or a memory file: each ends its job with the
// message for that use, and nothing is sent.
TEST_F(BadInput, FilesThatCannotBeRead) {
    const std::string missing = dir / "missing.cmd";
    const std::string folder = dir / "folder.cmd";
    std::filesystem::create_directory(folder);
    Fifo fifo(dir / "fifo.cmd");
    ASSERT_TRUE(fifo.Ok());
    for (const std::string& name : {missing, folder, fifo.Path()}) {
        SCOPED_TRACE(name);
        station().ClearLog();
        const std::string cannot = Failed(name, 0, msg::CannotOpenFile(name));
        worker->StartFile(name);
        EXPECT_EQ(WaitForJob(20s), (Lines{cannot, kInterrupted}));
        // An include fails the same way; the line that included it counts as done.
        worker->StartLine("#" + name);
        EXPECT_EQ(WaitForJob(20s), (Lines{cannot, kInterrupted}));
        worker->StartLine("@binput001000<" + name);
        const Lines put = WaitForJob(20s);
        ASSERT_EQ(put.size(), 2u);
        EXPECT_TRUE(put[0] == msg::NelzeOtevritSoubor + name + " " || put[0] == msg::NelzeCistZeSouboru + name + " ")
            << put[0];
        worker->StartLine("@binget001000,000010>" + name);
        EXPECT_EQ(WaitForJob(20s), (Lines{msg::NelzeZapsatDoSouboru + name + " ", kInterrupted}));
        EXPECT_TRUE(Commands().empty()) << ::testing::PrintToString(Commands());
        EXPECT_TRUE(LockFree());
    }
}

TEST_F(BadInput, AScriptWithoutReadPermission) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads a file of mode 000; the folder and the FIFO cases stand for it";
    const std::string locked = dir.Write("locked.cmd", "I000000\n");
    ASSERT_EQ(::chmod(locked.c_str(), 0), 0);
    EXPECT_EQ(FileJob(locked), (Lines{Failed(locked, 0, msg::CannotOpenFile(locked)), kInterrupted}));
    EXPECT_TRUE(Commands().empty());
}

// Two files that include each other end at the include limit, and the job says so.
TEST_F(BadInput, ScriptsThatIncludeEachOther) {
    const std::string a = dir / "a.cmd", b = dir / "b.cmd";
    dir.Write("a.cmd", "#" + b + "\n");
    dir.Write("b.cmd", "#" + a + "\n");
    const Lines reports = FileJob(a);
    ASSERT_EQ(reports.size(), 2u);
    // Sixteen files are open when the seventeenth is refused: b.cmd, the job's own a.cmd
    // being the first.
    EXPECT_EQ(reports[0], Failed(b, 0, msg::PrilisMnohoVnorenych));
    EXPECT_EQ(reports[1], kInterrupted);
    EXPECT_TRUE(Commands().empty());
}

// A NUL byte ends the text: nothing after it runs, and a line cut by it is a line.
TEST_F(BadInput, NulBytesEndTheText) {
    const std::string cmd = dir.Write("nul.cmd", std::string("rpl2\r\nrp\0l2\r\nI000000\r\n", 22));
    EXPECT_EQ(FileJob(cmd), (Lines{kRpl2, kOk, msg::OdesilaSePrikaz + "rp", msg::Odpoved + "?\r",
                                   Failed(cmd, 1, msg::NegativniOdpoved), kInterrupted}));
    EXPECT_EQ(Commands(), (Lines{"rpl2\r", "rp\r"}));

    // A record cut by a NUL is a bad line, not a shorter download that ends as done.
    station().ClearLog();
    const std::string rec = Rec(0x040000, {1, 2, 3, 4});
    std::string text = Rec(0x03FF80, {9}) + "\r\n" + rec + "\r\n";
    text[text.size() - 6] = '\0';
    const std::string s24 = dir.Write("nul.s24", text);
    const Lines reports = FileJob(s24);
    EXPECT_EQ(worker->FError, Failed(s24, 1, msg::VadnyRadek + rec.substr(0, rec.size() - 4)));
    EXPECT_EQ(reports.back(), kInterrupted);
    EXPECT_TRUE(Commands().empty());
}

// Lines of 100,000 characters of each kind. Each file ends with "rpl2", which shows
// whether the file went on after the long line.
TEST_F(BadInput, LinesOfAHundredThousandCharacters) {
    const std::size_t n = 100000;
    const std::string as(n, 'A');
    const std::string hex(n - 2, '0');
    const std::string name(n, 'n');
    struct Case {
        const char* name;
        std::string line;
        std::string error;  // of line 0; "" when the file runs on to "rpl2"
        Lines commands;     // what reaches the station, "rpl2" included
    };
    const std::vector<Case> cases = {
        {"text command", as, msg::InvalidPbtLength, {}},
        // A go command: the station leaves it unanswered, so no reply of it can linger.
        {"command without reply, cut to 200", "~G:" + as, "", {("G:" + as).substr(0, 200) + "\r", "rpl2\r"}},
        {"comment", ";" + as, "", {"rpl2\r"}},
        {"reply check", "!" + as, msg::NespravnaOdpovedReply + "ok\r", {}},
        {"S-record", "S2" + hex, msg::VadnyRadek + "S2" + hex, {}},
        {"special command", "@" + as, msg::InvalidPbtLength, {}},
        {"memory load, name cut to 500", "@binput000000<" + name, msg::NelzeOtevritSoubor + name.substr(0, 500), {}},
        {"memory dump, name cut to 500", "@binget000000,000010>" + name, msg::NelzeZapsatDoSouboru + name.substr(0, 500), {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        worker->FResponse = "ok\r";
        station().ClearLog();
        const std::string file = dir.Write("long.cmd", c.line + "\r\nrpl2\r\n");
        const Lines reports = FileJob(file);
        if (c.error.empty()) {
            EXPECT_EQ(worker->FError, "");
            EXPECT_EQ(reports.back(), kDone);
        } else {
            EXPECT_EQ(worker->FError, Failed(file, 0, c.error));
            EXPECT_EQ(reports.back(), kInterrupted);
        }
        EXPECT_EQ(Commands(), c.commands);
    }

    // An include of such a name: the name is cut to 200 characters, the include's failure
    // is recorded and the including file goes on.
    station().ClearLog();
    const std::string file = dir.Write("long.cmd", "#" + name + "\r\nrpl2\r\n");
    const std::string cut = name.substr(0, 200);
    EXPECT_EQ(FileJob(file), (Lines{kRpl2, kOk, Failed(cut, 0, msg::CannotOpenFile(cut)), kInterrupted}));
    EXPECT_EQ(Commands(), Lines{"rpl2\r"});
}

// Random bytes as a script and as a download: every job ends with one closing line, a
// failure names the file, and the station only ever sees lines of the file as commands.
TEST_F(BadInput, RandomBytes) {
    link.timeoutMs = 30;
    for (unsigned seed = 1; seed <= 12; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 rng(seed);
        std::string bytes(8192, '\0');
        for (auto& b : bytes) b = static_cast<char>(rng());
        // Half of them without NULs, so that more than the first few hundred bytes count.
        if (seed % 2 == 0)
            for (auto& b : bytes)
                if (b == '\0') b = '\x01';
        const std::string file = dir.Write(seed % 3 == 0 ? "random.s24" : "random.cmd", bytes);
        station().ClearLog();
        const Lines reports = FileJob(file);

        ASSERT_FALSE(reports.empty());
        int closing = 0;
        for (const auto& l : reports) closing += l.rfind(kDone, 0) == 0 || l.rfind(kInterrupted, 0) == 0;
        EXPECT_EQ(closing, 1);
        EXPECT_EQ(reports.back(), worker->FError.empty() ? kDone : kInterrupted);
        if (!worker->FError.empty()) {
            EXPECT_EQ(worker->FError.rfind("Soubor:" + file + msg::RadekPrefix, 0), 0u) << worker->FError;
        }

        // Every command on the wire is a line of the file as the language sends it.
        std::vector<std::string> allowed;
        const std::string text = bytes.substr(0, bytes.find('\0'));
        std::size_t from = 0;
        while (from < text.size()) {
            std::size_t to = text.find_first_of("\r\n", from);
            if (to == std::string::npos) to = text.size();
            const std::string line = text.substr(from, to - from);
            allowed.push_back(line + "\r");
            if (!line.empty() && line[0] == '~') allowed.push_back(line.substr(1, 200) + "\r");
            from = to + 1;
        }
        for (const auto& sent : Commands()) {
            bool known = false;
            for (const auto& a : allowed) known = known || a == sent;
            EXPECT_TRUE(known) << "sent: " << zv::test::Hex(Bytes(sent.begin(), sent.end()));
        }
        EXPECT_TRUE(LockFree());
    }
    // The worker is still there for a good job.
    EXPECT_EQ(LineJob("I000000").back(), kDone);
}

}  // namespace
