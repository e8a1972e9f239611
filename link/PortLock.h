#pragma once
// Holds a TSMutex for a scope: taken with an unbounded wait, given back on every way out,
// so that an error leaves the scope with the lock already free.
#include "link/Tsigs.h"

namespace zv::link {

class PortLock {
public:
    explicit PortLock(TSMutex& m) : m_(m) { m_.WaitFor(-1); }
    ~PortLock() { m_.Release(); }
    PortLock(const PortLock&) = delete;
    PortLock& operator=(const PortLock&) = delete;

private:
    TSMutex& m_;
};

}  // namespace zv::link
