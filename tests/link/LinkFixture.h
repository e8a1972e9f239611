#pragma once
// A pseudo-terminal pair for the port tests: the port opens the slave through
// $ZAVLO384_COM1, the test plays the far end with raw reads and writes on the master.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "link/Tsigs.h"
#include "tests/support/TsiocomProbe.h"

using Bytes = std::vector<std::uint8_t>;

class Pty {
public:
    Pty() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
            ADD_FAILURE() << "no pseudo-terminal";
            return;
        }
        char name[128];
        if (ptsname_r(master_, name, sizeof name) != 0) ADD_FAILURE() << "ptsname";
        slave_ = name;
        // Held open so that the master never sees a hang-up between our opens, and so
        // that a test can see what has reached the slave's input queue.
        keeper_ = ::open(name, O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        setenv("ZAVLO384_COM1", name, 1);
    }
    ~Pty() {
        CloseMaster();
        if (keeper_ >= 0) ::close(keeper_);
    }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    const std::string& Slave() const { return slave_; }
    int Master() const { return master_; }
    void CloseMaster() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }

    void Send(const Bytes& b) const {
        ASSERT_EQ(::write(master_, b.data(), b.size()), static_cast<ssize_t>(b.size()));
    }

    // Up to n bytes that the port sent, waiting at most timeoutMs for each part.
    Bytes Receive(std::size_t n, int timeoutMs = 2000) const {
        Bytes got;
        std::uint8_t buf[512];
        while (got.size() < n) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, timeoutMs) <= 0 || !(p.revents & POLLIN)) break;
            const ssize_t r = ::read(master_, buf, std::min(sizeof buf, n - got.size()));
            if (r <= 0) break;
            got.insert(got.end(), buf, buf + r);
        }
        return got;
    }

    // True when nothing arrives from the port within timeoutMs.
    bool Silent(int timeoutMs) const {
        pollfd p{master_, POLLIN, 0};
        return ::poll(&p, 1, timeoutMs) == 0;
    }

    // The slave's settings as the C library reads them.
    termios SlaveTermios() const {
        termios t{};
        tcgetattr(keeper_, &t);
        return t;
    }

    // Waits until n bytes sent from the master wait in the slave's input queue.
    bool Queued(int n) const {
        pollfd p{keeper_, POLLIN, 0};
        int count = 0;
        return ::poll(&p, 1, 2000) == 1 && ::ioctl(keeper_, FIONREAD, &count) == 0 && count == n;
    }

private:
    int master_ = -1;
    int keeper_ = -1;
    std::string slave_;
};
