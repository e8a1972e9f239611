// The port under two threads at once, as the window and the worker use it: one opens,
// resets and closes it over and over while the other exchanges telegrams with the
// station. Neither may hang, and the only failure allowed is the exchange that finds
// the port closed.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/Error.h"
#include "common/Messages.h"
#include "link/Tsigs.h"
#include "tests/support/PtyStation.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kRun = 2500ms;
constexpr std::size_t kPattern = 512;  // station memory 0..511 holds its own address's low byte

std::string HexByte(unsigned v) {
    char b[3];
    std::snprintf(b, sizeof b, "%02X", v & 0xFFu);
    return b;
}

// What the two threads saw, guarded by `m`; the opener waits on `cv` for exchanges.
struct Tally {
    std::mutex m;
    std::condition_variable cv;
    std::uint64_t replies = 0;   // correct replies
    std::uint64_t closed = 0;    // exchanges that found the port closed
    std::uint64_t cycles = 0;    // open / reset / close rounds
    std::vector<std::string> unexpected;

    void Fail(std::string what) {
        std::lock_guard lock(m);
        if (unexpected.size() < 20) unexpected.push_back(std::move(what));
    }
};

TEST(PortLoad, OpenResetCloseAgainstExchangesNeitherHangsNorFailsOtherwise) {
    zv::test::PtyStation pty;
    pty.Export();
    std::vector<std::uint8_t> pattern(kPattern);
    for (std::size_t i = 0; i < kPattern; ++i) pattern[i] = static_cast<std::uint8_t>(i);
    pty.station().WriteMemory(0, pattern);

    Tsiocom port;
    Tally tally;
    std::atomic<bool> done{false};
    const auto until = Clock::now() + kRun;

    // The worker's side: read two bytes at a changing address, so that a reply left over
    // from an earlier request could not pass for the answer to this one.
    std::thread exchanger([&] {
        for (unsigned i = 0; Clock::now() < until; ++i) {
            const unsigned address = i % (kPattern - 1);
            char command[16];
            std::snprintf(command, sizeof command, "R%06X,02\n\r", address);
            const std::string text = command;
            std::array<std::uint8_t, 255> frame{};
            frame[4] = 127;
            frame[5] = 100;
            frame[6] = 0x47;
            frame[7] = 0xF5;
            std::copy(text.begin(), text.end(), frame.begin() + 8);
            std::array<std::uint8_t, 261> reply{};
            try {
                if (!port.Transact(frame.data(), static_cast<std::int32_t>(text.size() + 10), reply.data(), 2000)) {
                    tally.Fail("no reply to " + text);
                    continue;
                }
                const std::string expected = "=" + HexByte(address) + HexByte(address + 1) + "\r";
                const std::size_t le = reply[1];
                const std::string got(reinterpret_cast<const char*>(reply.data()) + 8, le >= 4 ? le - 4 : 0);
                if (reply[0] != 0x68 || reply[4] != 100 || reply[6] != 0x07 || got != expected) {
                    tally.Fail("wrong reply to " + text + ": " + got);
                    continue;
                }
                std::lock_guard lock(tally.m);
                ++tally.replies;
            } catch (const zv::Error& e) {
                if (e.what() != zv::msg::GetCommTimeoutsFailed) {
                    tally.Fail(e.what());
                    continue;
                }
                std::lock_guard lock(tally.m);
                ++tally.closed;
            } catch (const std::exception& e) {
                tally.Fail(e.what());
            }
            tally.cv.notify_all();
        }
        done = true;
        tally.cv.notify_all();
    });

    // The window's side: each round opens, lets a few exchanges through, resets the port
    // under them, lets a few more through and closes it again.
    std::thread opener([&] {
        const auto exchangesAfter = [&](std::uint64_t count) {
            std::unique_lock lock(tally.m);
            const std::uint64_t from = tally.replies + tally.closed;
            tally.cv.wait_for(lock, 500ms, [&] { return done || tally.replies + tally.closed >= from + count; });
        };
        while (!done && Clock::now() < until) {
            try {
                port.Open("COM1", 384000, 0, 100, false);
                exchangesAfter(2);
                port.Reset();
                exchangesAfter(1);
                port.Close();
                exchangesAfter(1);
                std::lock_guard lock(tally.m);
                ++tally.cycles;
            } catch (const std::exception& e) {
                tally.Fail(std::string("open/reset/close: ") + e.what());
            }
        }
    });

    // A deadlock shows as threads that never end: give up on them with a report rather
    // than wait for the test's time limit.
    std::mutex endMutex;
    std::condition_variable endCv;
    int ended = 0;
    std::thread watcher([&] {
        exchanger.join();
        opener.join();
        std::lock_guard lock(endMutex);
        ended = 1;
        endCv.notify_all();
    });
    {
        std::unique_lock lock(endMutex);
        if (!endCv.wait_for(lock, kRun + 60s, [&] { return ended == 1; })) {
            std::fprintf(stderr, "the port threads did not end: deadlock\n");
            std::abort();
        }
    }
    watcher.join();

    std::lock_guard lock(tally.m);
    EXPECT_TRUE(tally.unexpected.empty()) << tally.unexpected.size() << " unexpected, first: " << tally.unexpected[0];
    EXPECT_GT(tally.replies, 0u);
    EXPECT_GT(tally.closed, 0u);
    EXPECT_GT(tally.cycles, 0u);
    EXPECT_EQ(port.FReplyCount.load(), tally.replies);
    // And the port still works for the next user.
    port.Open("COM1", 384000, 0, 100, false);
    EXPECT_TRUE(port.IsOpen());
    port.Close();
}

}  // namespace
