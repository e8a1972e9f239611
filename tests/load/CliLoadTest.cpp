// The batch front end under a long job: a script file of 100,000 commands that await no
// reply makes 200,000 report lines, and every one of them must reach stdout, in order.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/PtyStation.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;

constexpr int kCommands = 100000;

struct CliRun {
    int status = -1;
    std::string out, err;
};

// Runs zavlo384-cli with `args` and collects stdout and stderr until it ends.
CliRun RunCli(const std::vector<std::string>& args, std::chrono::seconds limit) {
    CliRun run;
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe";
        return run;
    }
    if (::pipe2(err, O_CLOEXEC) != 0) {
        ::close(out[0]);
        ::close(out[1]);
        ADD_FAILURE() << "pipe";
        return run;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<std::string> all{ZAVLO384_CLI};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, ZAVLO384_CLI, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    if (spawned != 0) {
        ::close(out[0]);
        ::close(err[0]);
        ADD_FAILURE() << "posix_spawn: " << spawned;
        return run;
    }

    const auto deadline = std::chrono::steady_clock::now() + limit;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* into[2] = {&run.out, &run.err};
    for (int open = 2; open > 0;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left <= 0ms) {
            ::kill(pid, SIGKILL);
            ADD_FAILURE() << "zavlo384-cli did not end within " << limit.count() << " s";
            break;
        }
        if (::poll(fds, 2, static_cast<int>(left.count())) < 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buffer[65536];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                into[i]->append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                fds[i].fd = -1;
                --open;
            }
        }
    }
    ::close(out[0]);
    ::close(err[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t from = 0;
    for (std::size_t nl; (nl = text.find('\n', from)) != std::string::npos; from = nl + 1)
        lines.push_back(text.substr(from, nl - from));
    if (from < text.size()) lines.push_back(text.substr(from));
    return lines;
}

TEST(CliLoad, TwoHundredThousandReportLinesArriveWholeAndInOrder) {
    zv::test::PtyStation pty;
    pty.Export();
    // "G:" leaves the monitor without a reply; "~" sends it without waiting for one, so
    // each line costs one telegram and reports exactly two lines.
    const auto script = std::filesystem::temp_directory_path() /
                        ("zavlo384-load-" + std::to_string(::getpid()) + ".cmd");
    {
        std::ofstream file(script, std::ios::binary);
        for (int i = 1; i <= kCommands; ++i) file << "~G:" << i << "\r\n";
    }
    struct Remove {
        std::filesystem::path p;
        ~Remove() { std::filesystem::remove(p); }
    } remove{script};

    const CliRun run = RunCli({"b384000", "#" + script.string()}, 240s);

    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    const std::vector<std::string> out = Lines(run.out);
    // Line by line first, so that a loss shows where it happened. A "#" line given on the
    // command line is a line job: it closes without the file job's line count.
    std::vector<std::string> expected;
    expected.reserve(2 * kCommands);
    for (int i = 1; i <= kCommands; ++i) {
        expected.push_back("Odesílá se příkaz: ~G:" + std::to_string(i));
        expected.push_back("Odpověď: ok");
    }
    for (std::size_t at = 0; at < expected.size() && at < out.size(); ++at)
        ASSERT_EQ(out[at], expected[at]) << "line " << at;
    ASSERT_EQ(out.size(), expected.size() + 1);
    EXPECT_TRUE(out.back().starts_with("=== Dokončeno: ")) << out.back();

    // And the telegrams themselves left in the same order, none missing.
    ASSERT_TRUE(pty.station().WaitForRequests(kCommands, 10s));
    const auto requests = pty.station().Requests();
    ASSERT_EQ(requests.size(), static_cast<std::size_t>(kCommands));
    for (int i = 1; i <= kCommands; ++i)
        ASSERT_EQ(requests[i - 1].Command(), "G:" + std::to_string(i) + "\r") << "request " << i;
}

}  // namespace
