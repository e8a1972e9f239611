#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/ScriptFile.h"

namespace {

using Lines = std::vector<std::string>;

struct SplitCase {
    const char* name;
    std::string text;
    Lines lines;
};

TEST(SplitScriptLines, LineEndsNulAndTheEndOfTheText) {
    const std::vector<SplitCase> cases = {
        {"empty text", "", {}},
        {"no line end", "I000000", {"I000000"}},
        {"CR LF", "a\r\nb\r\n", {"a", "b"}},
        {"lone CR", "a\rb\r", {"a", "b"}},
        {"lone LF", "a\nb\n", {"a", "b"}},
        {"mixed ends", "a\r\nb\rc\nd", {"a", "b", "c", "d"}},
        {"LF CR is two ends", "a\n\rb", {"a", "", "b"}},
        {"empty lines kept", "\r\n\r\nx\n\n", {"", "", "x", ""}},
        {"only a line end", "\r\n", {""}},
        {"CR CR LF", "a\r\r\nb", {"a", "", "b"}},
        {"NUL ends the text", std::string("a\r\nb\0c\r\nd", 10), {"a", "b"}},
        {"NUL first", std::string("\0a", 2), {}},
        {"NUL right after a line end", std::string("a\n\0\n", 4), {"a"}},
        {"nothing trimmed", " ;x \t\r\n  ", {" ;x \t", "  "}},
        {"8-bit bytes kept", "\x8a\x9e\xe8\r\n", {"\x8a\x9e\xe8"}},
    };
    for (const auto& c : cases) EXPECT_EQ(zv::SplitScriptLines(c.text), c.lines) << c.name;
}

}  // namespace

#include "tests/engine/EngineRig.h"

namespace {

using namespace zv::enginetest;

class ScriptFile : public EngineRig {
protected:
    TempDir dir;
};

TEST_F(ScriptFile, LinesRunAsTheyStand) {
    const std::string f = dir.Write("a.cmd", "I1\r\n;comment\r\n\rW000000<01\nI 2 ");
    worker->ExecuteFile(f);
    EXPECT_EQ(worker->FError, "");
    EXPECT_EQ(Commands(), (Lines{"I1\r", "W000000<01\r", "I 2 \r"}));
    EXPECT_EQ(worker->FLinesTotal, 5);
    EXPECT_EQ(worker->FLinesDone, 5);
}

TEST_F(ScriptFile, ErrorTextNamesTheFileAndTheLine) {
    const std::string missing = dir / "missing.cmd";
    const std::string failing = dir.Write("fail.cmd", ";0\n;1\n;2\n;3\n!nothing\nI000000\n");
    struct Case {
        const char* what;
        std::string name;
        std::string before;
        std::string error;
        int total, done;
    };
    const Case cases[] = {
        {"missing file", missing, "", "Soubor:" + missing + Cp(" řádek:0 :Cannot open file ") + missing + " ", 0, 0},
        {"a folder", dir / "", "", "Soubor:" + (dir / "") + Cp(" řádek:0 :Cannot open file ") + (dir / "") + " ", 0, 0},
        {"fifth line fails", failing, "", "Soubor:" + failing + Cp(" řádek:4 :Nesprávná odpověď: ") + "r ", 6, 4},
        {"older errors follow", failing, "older ", "Soubor:" + failing + Cp(" řádek:4 :Nesprávná odpověď: ") + "r older ", 6, 4},
    };
    for (const auto& c : cases) {
        worker->FError = c.before;
        worker->FResponse = "r";
        worker->FLinesTotal = 0;
        worker->FLinesDone = 0;
        worker->ExecuteFile(c.name);
        EXPECT_EQ(worker->FError, c.error) << c.what;
        EXPECT_EQ(worker->FLinesTotal, c.total) << c.what;
        EXPECT_EQ(worker->FLinesDone, c.done) << c.what;
    }
    EXPECT_TRUE(Commands().empty());  // the line after the failure never ran
}

TEST_F(ScriptFile, IncludesCountTheirLines) {
    const std::string inner = dir.Write("inner.cmd", "I1\nI2\nI3\nI4\nI5\n");
    std::string outer = "#" + inner + "\n";
    for (int i = 1; i < 10; ++i) outer += ";" + std::to_string(i) + "\n";
    const std::string f = dir.Write("outer.cmd", outer);
    EXPECT_EQ(FileJob(f), (Lines{[&] {
                  Lines l;
                  for (int i = 1; i <= 5; ++i) {
                      l.push_back(Cp("Odesílá se příkaz: I") + std::to_string(i));
                      l.push_back(Cp("Odpověď: ZV384 monitor 1.0, stanice 127\r"));
                  }
                  l.push_back(Cp("Zpracováno 15 řádek."));
                  l.push_back(kDone);
                  return l;
              }()}));
    EXPECT_EQ(worker->FLinesTotal, 15);
    EXPECT_EQ(worker->FLinesDone, 15);
}

// A failure inside an included file ends that file only; failures are listed newest first.
TEST_F(ScriptFile, FailureInAnIncludedFileEndsThatFileOnly) {
    const std::string inner = dir.Write("inner.cmd", "I1\n!nothing\nI2\nI3\nI4\n");
    const std::string outer = dir.Write("outer.cmd", "#" + inner + "\nI5\nI6\n!nothing either\nI7\n");
    const std::string innerError = "Soubor:" + inner + Cp(" řádek:1 :Nesprávná odpověď: ") +
                                   "ZV384 monitor 1.0, stanice 127\r ";
    const std::string outerError = "Soubor:" + outer + Cp(" řádek:3 :Nesprávná odpověď: ") +
                                   "ZV384 monitor 1.0, stanice 127\r ";
    const Lines reports = FileJob(outer);
    EXPECT_EQ(Commands(), (Lines{"I1\r", "I5\r", "I6\r"}));
    EXPECT_EQ(worker->FError, outerError + innerError);
    ASSERT_GE(reports.size(), 2u);
    EXPECT_EQ(reports[reports.size() - 2], outerError + innerError);
    EXPECT_EQ(reports.back(), kInterrupted);
    EXPECT_EQ(worker->FLinesTotal, 10);
    EXPECT_EQ(worker->FLinesDone, 1 + 3);

    // Only the included file fails: the job still ends as interrupted.
    station().ClearLog();
    const std::string outer2 = dir.Write("outer2.cmd", "#" + inner + "\nI5\n");
    EXPECT_EQ(FileJob(outer2), (Lines{Cp("Odesílá se příkaz: I1"), Cp("Odpověď: ZV384 monitor 1.0, stanice 127\r"),
                                      Cp("Odesílá se příkaz: I5"), Cp("Odpověď: ZV384 monitor 1.0, stanice 127\r"),
                                      innerError, kInterrupted}));
}

// A stop unwinds every level, each file naming the line it would have run next.
TEST_F(ScriptFile, StopUnwindsAllLevels) {
    const std::string inner = dir.Write("inner.cmd", "I1\nI2\n");
    const std::string outer = dir.Write("outer.cmd", "#" + inner + "\nI9\n");
    link.timeoutMs = 100;
    Faults(With([](auto& f) { f.delayMs = 150; }));  // the reply still comes within the attempt
    worker->StartFile(outer);
    ASSERT_TRUE(station().WaitForRequests(1, std::chrono::seconds(5)));
    worker->FStop = true;
    WaitForJob();
    EXPECT_EQ(worker->FError, "Soubor:" + outer + Cp(" řádek:1 :Zastaven. ") + "Soubor:" + inner +
                                  Cp(" řádek:1 :Zastaven. "));
    EXPECT_EQ(Commands(), Lines{"I1\r"});
}

// The job's file is the first of at most 16 open at once.
TEST_F(ScriptFile, FileThatIncludesItselfEndsAtTheDepthLimit) {
    const std::string self = dir / "self.cmd";
    dir.Write("self.cmd", "#" + self + "\n");
    const Lines reports = FileJob(self);
    const std::string error = "Soubor:" + self + Cp(" řádek:0 :Příliš mnoho vnořených souborů. ");
    EXPECT_EQ(reports, (Lines{error, kInterrupted}));
    EXPECT_EQ(worker->FLinesTotal, 16);
    EXPECT_EQ(worker->FLinesDone, 15);

    // The limit is counted from the job's file, also for the next job.
    EXPECT_EQ(FileJob(self), (Lines{error, kInterrupted}));
}

// A name in a script is CP1250; the file on disk carries the same name in UTF-8.
TEST_F(ScriptFile, CzechFileName) {
    dir.Write("příkazy.cmd", "I000000\n");
    const std::string name = (dir / "") + Cp("příkazy.cmd");
    EXPECT_EQ(LineJob("#" + name).back(), kDone);
    EXPECT_EQ(Commands(), Lines{"I000000\r"});

    const std::string missing = (dir / "") + Cp("chybí.cmd");
    worker->ExecuteFile(missing);
    EXPECT_EQ(worker->FError, "Soubor:" + missing + Cp(" řádek:0 :Cannot open file ") + missing + " ");
}

}  // namespace
