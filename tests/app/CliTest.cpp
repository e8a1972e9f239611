// The batch front end end to end: the built zavlo384-cli against the simulated station
// on a pseudo-terminal, judged by its stdout, stderr and exit status.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/PtyStation.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using zv::test::PtyPair;
using zv::test::PtyStation;
using zv::test::ScopedEnv;
using Lines = std::vector<std::string>;

struct CliRun {
    int status = -1;  // exit status, or 128 + signal
    std::string out, err;
    Lines OutLines() const { return Split(out); }
    Lines ErrLines() const { return Split(err); }
    static Lines Split(const std::string& text) {
        Lines lines;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
};

class Fd {
public:
    explicit Fd(int fd = -1) : FFd(fd) {}
    ~Fd() { Reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return FFd; }
    void Reset() {
        if (FFd >= 0) ::close(FFd);
        FFd = -1;
    }

private:
    int FFd;
};

// Runs the program with `args`, collecting both streams until it ends. `onOutput` sees
// stdout as it grows, with the child's pid. `errFd`, when given, becomes the child's
// stderr instead of a pipe.
CliRun RunCli(const Lines& args,
              const std::function<void(pid_t, const std::string&)>& onOutput = {},
              int errFd = -1) {
    CliRun run;
    int outPipe[2], errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe";
        return run;
    }
    Fd outRead(outPipe[0]), outWrite(outPipe[1]), errRead(errPipe[0]), errWrite(errPipe[1]);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outWrite.get(), 1);
    posix_spawn_file_actions_adddup2(&actions, errFd >= 0 ? errFd : errWrite.get(), 2);
    std::vector<std::string> argv0{ZAVLO384_CLI};
    argv0.insert(argv0.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argv0) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, ZAVLO384_CLI, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    outWrite.Reset();
    errWrite.Reset();
    if (spawned != 0) {
        ADD_FAILURE() << "posix_spawn: " << spawned;
        return run;
    }

    const auto deadline = std::chrono::steady_clock::now() + 60s;
    pollfd fds[2] = {{outRead.get(), POLLIN, 0}, {errRead.get(), POLLIN, 0}};
    std::string* into[2] = {&run.out, &run.err};
    int open = 2;
    while (open > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left <= 0ms) {
            ::kill(pid, SIGKILL);
            ADD_FAILURE() << "zavlo384-cli did not end; stdout so far:\n" << run.out;
            break;
        }
        if (::poll(fds, 2, static_cast<int>(left.count())) < 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buffer[4096];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                into[i]->append(buffer, static_cast<std::size_t>(n));
                if (i == 0 && onOutput) onOutput(pid, run.out);
            } else {
                fds[i].fd = -1;
                --open;
            }
        }
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
}

bool StartsWith(const std::string& s, const std::string& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

bool Contains(const Lines& lines, const std::string& text) {
    for (const auto& l : lines)
        if (l.find(text) != std::string::npos) return true;
    return false;
}

TEST(Cli, CommandIsSentReportedAndClosed) {
    PtyStation pty;
    pty.Export();
    const CliRun run = RunCli({"b19200", "S$10", "I000000"});

    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    const Lines out = run.OutLines();
    ASSERT_EQ(out.size(), 3u) << run.out;
    EXPECT_EQ(out[0], "Odesílá se příkaz: I000000");
    EXPECT_TRUE(StartsWith(out[1], "Odpověď: ")) << out[1];
    EXPECT_GT(out[1].size(), std::string("Odpověď: ").size());
    EXPECT_TRUE(StartsWith(out[2], "=== Dokončeno: ")) << out[2];
    EXPECT_TRUE(out[2].ends_with(" ===")) << out[2];

    // The options reached the wire: our own address is the one given.
    const auto requests = pty.station().Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].Command(), "I000000\r");
    EXPECT_EQ(requests[0].sa, 0x10);
}

TEST(Cli, NoReplyIsRetriedThenInterrupts) {
    PtyStation pty;
    pty.Export();
    zv::Station::Faults silent;
    silent.dropAll = true;
    pty.station().SetFaults(silent);
    const CliRun run = RunCli({"I000000"});

    EXPECT_EQ(run.status, 1);
    const Lines out = run.OutLines();
    ASSERT_EQ(out.size(), 5u) << run.out;
    EXPECT_EQ(out[0], "Odesílá se příkaz: I000000");
    EXPECT_TRUE(StartsWith(out[1], "Opakuje se příkaz: I000000")) << out[1];
    EXPECT_TRUE(StartsWith(out[2], "Opakuje se příkaz: I000000")) << out[2];
    EXPECT_EQ(out[3], "Bez odezvy. ");
    EXPECT_TRUE(StartsWith(out[4], "=== Přerušeno: ")) << out[4];
    EXPECT_EQ(pty.station().Requests().size(), 3u);
}

TEST(Cli, QueueStopsAfterTheFirstFailedJob) {
    PtyStation pty;
    pty.Export();
    // The reply check fails without sending anything; the third line must never go out.
    const CliRun run = RunCli({"I000000", "!no such reply", "I000001"});

    EXPECT_EQ(run.status, 1);
    const Lines out = run.OutLines();
    EXPECT_EQ(std::count_if(out.begin(), out.end(),
                            [](const std::string& l) { return StartsWith(l, "=== Dokončeno: "); }),
              1);
    ASSERT_FALSE(out.empty());
    EXPECT_TRUE(StartsWith(out.back(), "=== Přerušeno: ")) << run.out;
    EXPECT_FALSE(Contains(out, "I000001")) << run.out;
    EXPECT_EQ(pty.station().Requests().size(), 1u);
}

TEST(Cli, OptionsAloneOpenThePortAndSucceed) {
    PtyStation pty;
    pty.Export();
    const CliRun run = RunCli({"m2", "d5"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");

    const CliRun help = RunCli({"I000000", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("COM1"), std::string::npos);
    EXPECT_NE(help.out.find("b56700"), std::string::npos);
    EXPECT_TRUE(pty.station().Requests().empty());  // help runs nothing
}

// A port that cannot be opened: link's message, then the reason found at the device.
TEST(Cli, PortThatCannotBeOpenedExitsWithTwo) {
    {
        SCOPED_TRACE("missing device");
        ScopedEnv env("ZAVLO384_COM1", "/nonexistent/zavlo384-tty");
        const CliRun run = RunCli({"I000000"});
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.ErrLines(),
                  (Lines{"Port COM1 nelze vybrat.", "Zařízení /nonexistent/zavlo384-tty neexistuje."}));
    }
    {
        SCOPED_TRACE("device held by another program");
        PtyPair pair;
        pair.Export("ZAVLO384_COM2");
        Fd holder(::open(pair.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
        ASSERT_GE(holder.get(), 0);
        ASSERT_EQ(::flock(holder.get(), LOCK_EX | LOCK_NB), 0);
        const CliRun run = RunCli({"COM2", "I000000"});
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.ErrLines(), (Lines{"Port COM2 nelze vybrat.",
                                         "Zařízení " + pair.SlavePath() + " používá jiný program."}));
    }
}

TEST(Cli, TerminationStopsTheRunningJob) {
    PtyStation pty;
    pty.Export();
    zv::Station::Faults slow;
    slow.delayMs = 5;  // keeps the file below running for far longer than the test needs
    pty.station().SetFaults(slow);
    const auto dir = std::filesystem::temp_directory_path() /
                     ("zavlo384-cli-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const auto script = dir / "long.cmd";
    {
        std::ofstream file(script);
        for (int i = 0; i < 5000; ++i) file << "I000000\r\n";
    }

    bool signalled = false;
    const CliRun run = RunCli({"#" + script.string(), "I000001"},
                              [&](pid_t pid, const std::string& out) {
                                  if (!signalled && out.find("Odpověď: ") != std::string::npos) {
                                      ::kill(pid, SIGTERM);
                                      signalled = true;
                                  }
                              });
    std::filesystem::remove_all(dir);

    EXPECT_TRUE(signalled);
    EXPECT_EQ(run.status, 1);
    const Lines out = run.OutLines();
    ASSERT_GE(out.size(), 2u);
    EXPECT_NE(out[out.size() - 2].find("Zastaven."), std::string::npos) << out[out.size() - 2];
    EXPECT_TRUE(StartsWith(out.back(), "=== Přerušeno: ")) << out.back();
    EXPECT_FALSE(Contains(out, "I000001"));
    EXPECT_LT(pty.station().Requests().size(), 5000u);
}

// On a terminal the progress line is drawn on stderr and erased again; stdout keeps only
// the report lines.
TEST(Cli, ProgressLineOnlyOnATerminal) {
    PtyStation pty;
    pty.Export();
    PtyPair terminal;
    Fd slave(::open(terminal.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    ASSERT_GE(slave.get(), 0);

    const CliRun run = RunCli({"I000000"}, {}, slave.get());
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.OutLines().size(), 3u) << run.out;
    const auto bytes = zv::test::ReadFd(terminal.Master(), 4096, 200ms);
    const std::string drawn(bytes.begin(), bytes.end());
    EXPECT_NE(drawn.find("[0/0]"), std::string::npos) << drawn;
    EXPECT_EQ(drawn.find("B/s"), std::string::npos) << drawn;  // no download, no rate
    EXPECT_TRUE(drawn.ends_with("\r\033[K")) << drawn;  // erased when the job ended
}

// A download's progress line shows the rate of the bytes the station has acknowledged.
TEST(Cli, ProgressLineShowsTheDownloadRate) {
    zv::Station::Config paced;
    paced.pace = true;
    paced.speed = 57600;  // 32 blocks take about a second
    PtyStation pty(paced);
    pty.Export();
    PtyPair terminal;
    Fd slave(::open(terminal.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    ASSERT_GE(slave.get(), 0);
    const auto dir = std::filesystem::temp_directory_path() /
                     ("zavlo384-cli-rate-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const auto image = dir / "image.s24";
    {
        std::ofstream file(image, std::ios::binary);
        for (unsigned address = 0x010000; address < 0x011000; address += 16) {
            char line[64];
            unsigned sum = 0x14 + (address & 0xFF) + ((address >> 8) & 0xFF) + (address >> 16);
            int at = std::snprintf(line, sizeof line, "S214%06X", address);
            for (int i = 0; i < 16; ++i) at += std::snprintf(line + at, sizeof line - at, "00");
            std::snprintf(line + at, sizeof line - at, "%02X\r\n", ~sum & 0xFF);
            file << line;
        }
    }

    const CliRun run = RunCli({"#" + image.string()}, {}, slave.get());
    std::filesystem::remove_all(dir);
    EXPECT_EQ(run.status, 0) << run.out;
    const auto bytes = zv::test::ReadFd(terminal.Master(), 65536, 200ms);
    const std::string drawn(bytes.begin(), bytes.end());
    const std::size_t rate = drawn.rfind(" B/s");
    ASSERT_NE(rate, std::string::npos) << drawn;
    const std::size_t digits = drawn.rfind(' ', rate - 1) + 1;
    const long perSecond = std::stol(drawn.substr(digits, rate - digits));
    // The wire carries at most 5760 bytes a second, less than half of them data.
    EXPECT_GT(perSecond, 0);
    EXPECT_LT(perSecond, 5760);
}

}  // namespace
