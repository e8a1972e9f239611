#pragma once
// Reaches into Tsiocom for what the tests must see and callers never need.
#include <gtest/gtest.h>

#include <thread>

#include "link/Tsigs.h"

struct TsiocomProbe {
    // Whether another thread can take the port lock at once (it gives it back).
    static bool LockFree(Tsiocom& s) {
        bool free = false;
        std::thread([&] {
            free = s.FLock.WaitFor(0);
            if (free) s.FLock.Release();
        }).join();
        return free;
    }
    static zv::posix::Timeouts Timeouts(const Tsiocom& s) { return s.FTimeouts; }
    // The settings as the device reports them now.
    static zv::posix::LineSettings Device(const Tsiocom& s) {
        zv::posix::LineSettings d;
        EXPECT_TRUE(s.FHandle.GetSettings(d));
        return d;
    }
};
