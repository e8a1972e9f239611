#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "common/Error.h"
#include "link/SignalTesting.h"
#include "link/Tsigs.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Runs f on a thread of its own and gives back its result.
template <class F>
auto OnOtherThread(F f) {
    decltype(f()) r{};
    std::thread([&] { r = f(); }).join();
    return r;
}

long Ms(Clock::duration d) { return std::chrono::duration_cast<std::chrono::milliseconds>(d).count(); }

TEST(AutoEvent, SetIsConsumedByOneWaitAndResetTakesItBack) {
    TSAutoEvent e;
    EXPECT_FALSE(e.WaitFor(0));
    e.Set();
    EXPECT_TRUE(e.WaitFor(-1));
    EXPECT_FALSE(e.WaitFor(0));  // auto-reset

    e.Set();
    e.Reset();
    EXPECT_FALSE(e.WaitFor(0));

    const auto start = Clock::now();
    EXPECT_FALSE(e.WaitFor(40));
    EXPECT_GE(Ms(Clock::now() - start), 39);
}

TEST(AutoEvent, EachSetReleasesExactlyOneWaiter) {
    TSAutoEvent e;
    std::mutex m;
    std::condition_variable cv;
    int released = 0;
    auto waiter = [&] {
        e.WaitFor(-1);
        std::lock_guard lock(m);
        ++released;
        cv.notify_all();
    };
    std::thread a(waiter), b(waiter);

    e.Set();
    std::unique_lock lock(m);
    ASSERT_TRUE(cv.wait_for(lock, 5s, [&] { return released >= 1; }));
    EXPECT_FALSE(cv.wait_for(lock, 100ms, [&] { return released >= 2; }));
    EXPECT_EQ(released, 1);
    lock.unlock();

    e.Set();
    lock.lock();
    EXPECT_TRUE(cv.wait_for(lock, 5s, [&] { return released == 2; }));
    lock.unlock();
    a.join();
    b.join();
    EXPECT_FALSE(e.WaitFor(0));
}

TEST(AutoEvent, SetFromAnotherThreadEndsABoundedWait) {
    TSAutoEvent e;
    std::thread setter([&] { e.Set(); });
    EXPECT_TRUE(e.WaitFor(10000));
    setter.join();
}

TEST(Mutex, OwnershipIsRecursiveAndOnlyTheOwnerReleases) {
    TSMutex m;
    EXPECT_TRUE(m.WaitFor(0));
    EXPECT_TRUE(m.WaitFor(-1));  // second level, at once
    m.Release();
    EXPECT_FALSE(OnOtherThread([&] { return m.WaitFor(0); }));

    // A thread that does not own it cannot give it away.
    OnOtherThread([&] {
        m.Release();
        return 0;
    });
    const auto start = Clock::now();
    EXPECT_FALSE(OnOtherThread([&] { return m.WaitFor(40); }));
    EXPECT_GE(Ms(Clock::now() - start), 39);

    m.Release();
    EXPECT_TRUE(OnOtherThread([&] {
        const bool taken = m.WaitFor(0);
        if (taken) m.Release();
        return taken;
    }));
}

TEST(Mutex, BoundedWaitGetsTheMutexWhenItsOwnerReleasesIt) {
    TSMutex m;
    TSAutoEvent taken, never;
    std::thread owner([&] {
        m.WaitFor(-1);
        taken.Set();
        never.WaitFor(50);  // holds it a little while
        m.Release();
    });
    taken.WaitFor(-1);
    EXPECT_TRUE(m.WaitFor(10000));
    owner.join();
    m.Release();
}

TEST(Mutex, OwnerThatEndsHandsItToTheNextWaiter) {
    TSMutex m;
    std::thread([&] {
        m.WaitFor(-1);
        m.WaitFor(-1);  // ends holding two levels
    }).join();

    EXPECT_TRUE(m.WaitFor(0));
    EXPECT_FALSE(OnOtherThread([&] { return m.WaitFor(0); }));  // the caller owns it now
    m.Release();
    EXPECT_TRUE(OnOtherThread([&] {
        const bool taken = m.WaitFor(0);
        if (taken) m.Release();
        return taken;
    }));
}

TEST(Signals, WithoutAHandleWaitForRaisesAndTheRestDoesNothing) {
    zv::link::FailSignalCreation(true);
    TSAutoEvent e;
    TSMutex m;
    zv::link::FailSignalCreation(false);

    e.Set();
    e.Reset();
    m.Release();
    for (int timeout : {0, 50, -1}) {
        try {
            e.WaitFor(timeout);
            ADD_FAILURE() << "event wait " << timeout << " did not raise";
        } catch (const zv::Error& err) {
            EXPECT_STREQ(err.what(), "WaitFor TSignal failed.");
        }
        try {
            m.WaitFor(timeout);
            ADD_FAILURE() << "mutex wait " << timeout << " did not raise";
        } catch (const zv::Error& err) {
            EXPECT_STREQ(err.what(), "WaitFor TSignal failed.");
        }
    }
    TSMutex fine;  // the hook is off again
    EXPECT_TRUE(fine.WaitFor(0));
    fine.Release();
}

}  // namespace
