// Serial device on Linux: exclusive open, modem lines, line-error state, and reads and
// writes with total time-outs over poll() on a non-blocking descriptor.
#include "link/posix/SerialPort.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>

namespace zv::posix {

static_assert(sizeof(serial_rs485) <= sizeof(unsigned char[32]));

namespace {

using Clock = std::chrono::steady_clock;

// The end of a total time-out; UINT64_MAX milliseconds never ends.
class Deadline {
public:
    explicit Deadline(std::uint64_t ms) : forever_(ms > static_cast<std::uint64_t>(INT_MAX)) {
        if (!forever_) end_ = Clock::now() + std::chrono::milliseconds(ms);
    }
    // Milliseconds left for poll(), rounded up so that a wait never ends early; -1 for
    // no limit, 0 when the time is up.
    int Left() const {
        if (forever_) return -1;
        auto left = end_ - Clock::now();
        if (left <= Clock::duration::zero()) return 0;
        auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
        return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
    }

private:
    bool forever_;
    Clock::time_point end_{};
};

void SetModemLines(int fd, int bits, bool on) {
    ::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bits);
}

}  // namespace

std::size_t ParityMarkDecoder::Decode(std::uint8_t* buf, std::size_t n) {
    std::size_t out = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t c = buf[i];
        switch (state_) {
        case 0:
            if (c == 0xFF) state_ = 1;
            else buf[out++] = c;
            break;
        case 1:
            if (c == 0x00) {
                state_ = 2;
            } else {  // 0xFF 0xFF is one data byte 0xFF; the driver writes nothing else
                buf[out++] = c;
                state_ = 0;
            }
            break;
        default:  // the byte that came with the error: dropped
            error_ = true;
            state_ = 0;
            break;
        }
    }
    return out;
}

bool SerialPort::Open(const std::string& device) {
    Close();
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    // Another program holding the device: flock covers those that lock it like we do,
    // TIOCEXCL makes the kernel refuse their open() (except to root).
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        ::close(fd);
        return false;
    }
    ::ioctl(fd, TIOCEXCL);

    haveOriginal_ = ReadLineSettings(fd, original_);
    marks_ = false;
    decoder_ = ParityMarkDecoder{};
    serial_icounter_struct ic{};
    counts_ = ::ioctl(fd, TIOCGICOUNT, &ic) == 0;
    baseline_ = Counts{ic.frame, ic.overrun, ic.parity, ic.brk, ic.buf_overrun};
    int lines = 0;
    modemLines_ = ::ioctl(fd, TIOCMGET, &lines) == 0;
    serial_rs485 rs{};
    haveRs485_ = ::ioctl(fd, TIOCGRS485, &rs) == 0;
    std::memcpy(rs485_, &rs, sizeof rs);
    changedRs485_ = false;
    toggleRts_ = false;
    flowControl_ = false;
    fd_.store(fd, std::memory_order_release);
    return true;
}

void SerialPort::Close() {
    const int fd = fd_.exchange(-1, std::memory_order_acq_rel);
    if (fd < 0) return;
    // What was written last (a command that switches the far end to another speed, say)
    // must leave at the speed it was written for, before the old settings come back.
    // Output held up by CTS does not end by itself: it is not waited for.
    int lines = 0;
    if (!flowControl_ || (modemLines_ && ::ioctl(fd, TIOCMGET, &lines) == 0 && (lines & TIOCM_CTS)))
        ::tcdrain(fd);
    if (changedRs485_) ::ioctl(fd, TIOCSRS485, rs485_);
    if (haveOriginal_) WriteLineSettings(fd, original_);
    // Exclusive mode belongs to the tty, not to our descriptor: a pseudo-terminal whose
    // other side stays open would keep it and refuse our own next open.
    ::ioctl(fd, TIOCNXCL);
    ::close(fd);
    haveOriginal_ = changedRs485_ = toggleRts_ = false;
}

bool SerialPort::GetSettings(LineSettings& out) const {
    const int fd = fd_.load(std::memory_order_relaxed);
    return fd >= 0 && ReadLineSettings(fd, out);
}

bool SerialPort::SetSettings(const LineSettings& in) {
    const int fd = fd_.load(std::memory_order_relaxed);
    if (fd < 0 || !WriteLineSettings(fd, in)) return false;
    marks_ = (in.iflag & PARMRK) != 0;
    decoder_.Restart();
    return true;
}

void SerialPort::SetFlowControl(bool on) {
    const int fd = fd_.load(std::memory_order_relaxed);
    if (fd < 0) return;
    serial_rs485 found{};
    std::memcpy(&found, rs485_, sizeof found);
    toggleRts_ = false;
    flowControl_ = on;
    if (on) {
        // RTS belongs to CRTSCTS now, not to an RS-485 mode left on by someone else.
        if (haveRs485_ && (found.flags & SER_RS485_ENABLED)) {
            serial_rs485 rs = found;
            rs.flags &= ~static_cast<__u32>(SER_RS485_ENABLED);
            if (::ioctl(fd, TIOCSRS485, &rs) == 0) changedRs485_ = true;
        }
        if (modemLines_) SetModemLines(fd, TIOCM_DTR, true);
        return;
    }
    // Both lines down at once: a target wired to reset on DTR must not see a pulse.
    if (modemLines_) SetModemLines(fd, TIOCM_DTR | TIOCM_RTS, false);
    if (haveRs485_) {
        serial_rs485 rs = found;
        rs.flags |= SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
        rs.flags &= ~static_cast<__u32>(SER_RS485_RTS_AFTER_SEND);
        rs.delay_rts_before_send = 0;
        rs.delay_rts_after_send = 0;
        if (::ioctl(fd, TIOCSRS485, &rs) == 0) {
            changedRs485_ = true;
            return;
        }
    }
    toggleRts_ = modemLines_;
}

void SerialPort::RequestLowLatency() {
    const int fd = fd_.load(std::memory_order_relaxed);
    if (fd < 0) return;
    serial_struct ss{};
    if (::ioctl(fd, TIOCGSERIAL, &ss) == 0 && !(ss.flags & ASYNC_LOW_LATENCY)) {
        ss.flags |= ASYNC_LOW_LATENCY;
        ::ioctl(fd, TIOCSSERIAL, &ss);
    }
}

bool SerialPort::ReadCounts(Counts& out) const {
    serial_icounter_struct ic{};
    if (::ioctl(fd_.load(std::memory_order_relaxed), TIOCGICOUNT, &ic) != 0) return false;
    out = Counts{ic.frame, ic.overrun, ic.parity, ic.brk, ic.buf_overrun};
    return true;
}

bool SerialPort::LineError() const {
    if (decoder_.Error()) return true;
    Counts now;
    return counts_ && ReadCounts(now) && !(now == baseline_);
}

bool SerialPort::ClearErrors() {
    bool seen = decoder_.Error();
    decoder_.ClearError();
    Counts now;
    if (counts_ && fd_.load(std::memory_order_relaxed) >= 0 && ReadCounts(now)) {
        if (!(now == baseline_)) seen = true;
        baseline_ = now;
    }
    return seen;
}

bool SerialPort::FlushInput() {
    const int fd = fd_.load(std::memory_order_relaxed);
    if (fd < 0) return false;
    decoder_.Restart();
    return ::tcflush(fd, TCIFLUSH) == 0;
}

long SerialPort::Read(std::uint8_t* buf, std::size_t n, std::uint64_t timeoutMs) {
    const int fd = fd_.load(std::memory_order_relaxed);
    if (fd < 0 || LineError()) return -1;
    const Deadline deadline(timeoutMs);
    std::size_t got = 0;
    while (got < n) {
        const ssize_t r = ::read(fd, buf + got, n - got);
        if (r > 0) {
            const auto raw = static_cast<std::size_t>(r);
            got += marks_ ? decoder_.Decode(buf + got, raw) : raw;
            if (decoder_.Error()) return -1;
            continue;
        }
        if (r == 0) return -1;  // hung up
        if (errno == EINTR) continue;
        if (errno != EAGAIN) return -1;  // EIO: the device is gone

        const int left = deadline.Left();
        if (left == 0) break;
        pollfd p{fd, POLLIN, 0};
        const int pr = ::poll(&p, 1, left);
        if (pr < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (pr == 0) continue;  // the deadline decides
        if (!(p.revents & POLLIN) && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) return -1;
    }
    if (counts_ && LineError()) return -1;
    return static_cast<long>(got);
}

long SerialPort::Write(const std::uint8_t* buf, std::size_t n, std::uint64_t timeoutMs) {
    const int fd = fd_.load(std::memory_order_relaxed);
    if (fd < 0 || LineError()) return -1;
    const Deadline deadline(timeoutMs);
    if (toggleRts_) SetModemLines(fd, TIOCM_RTS, true);
    std::size_t done = 0;
    bool failed = false;
    while (done < n) {
        const ssize_t w = ::write(fd, buf + done, n - done);
        if (w > 0) {
            done += static_cast<std::size_t>(w);
            continue;
        }
        if (w < 0 && errno == EINTR) continue;
        if (w == 0 || errno != EAGAIN) {
            failed = true;
            break;
        }
        const int left = deadline.Left();
        if (left == 0) break;
        pollfd p{fd, POLLOUT, 0};
        const int pr = ::poll(&p, 1, left);
        if (pr < 0) {
            if (errno == EINTR) continue;
            failed = true;
            break;
        }
        if (pr > 0 && !(p.revents & POLLOUT) && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) {
            failed = true;
            break;
        }
    }
    if (toggleRts_) {
        ::tcdrain(fd);
        SetModemLines(fd, TIOCM_RTS, false);
    }
    return failed ? -1 : static_cast<long>(done);
}

}  // namespace zv::posix
