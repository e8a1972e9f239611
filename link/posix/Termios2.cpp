// The kernel's termios2 lives here alone: <asm/termbits.h> redefines what the C library's
// <termios.h> defines, so no other file of the program may include it.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cstring>

#include "link/posix/SerialPort.h"

namespace zv::posix {

static_assert(sizeof(termios2{}.c_cc) <= sizeof(LineSettings{}.cc));

namespace {

LineSettings FromKernel(const termios2& t) {
    LineSettings s;
    s.iflag = t.c_iflag;
    s.oflag = t.c_oflag;
    s.cflag = t.c_cflag;
    s.lflag = t.c_lflag;
    s.line = t.c_line;
    std::memcpy(s.cc, t.c_cc, sizeof t.c_cc);
    s.ispeed = t.c_ispeed;
    s.ospeed = t.c_ospeed;
    return s;
}

termios2 ToKernel(const LineSettings& s) {
    termios2 t{};
    t.c_iflag = s.iflag;
    t.c_oflag = s.oflag;
    t.c_cflag = s.cflag;
    t.c_lflag = s.lflag;
    t.c_line = s.line;
    std::memcpy(t.c_cc, s.cc, sizeof t.c_cc);
    t.c_ispeed = s.ispeed;
    t.c_ospeed = s.ospeed;
    return t;
}

}  // namespace

LineSettings BuildLineSettings(std::int32_t speed, std::int32_t parity, bool flowControl,
                               const LineSettings& current) {
    LineSettings s = current;

    // Any speed through BOTHER; the input speed follows the output speed.
    s.cflag &= ~static_cast<std::uint32_t>(CBAUD | CIBAUD);
    s.cflag |= BOTHER;
    s.ispeed = s.ospeed = static_cast<std::uint32_t>(speed);

    s.cflag &= ~static_cast<std::uint32_t>(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS);
    s.cflag |= CS8 | CREAD | CLOCAL;
    if (parity != kParityNone) {
        s.cflag |= PARENB;
        if (parity == kParityOdd) s.cflag |= PARODD;
    }
    if (flowControl) s.cflag |= CRTSCTS;

    // Raw input: no translation, no software flow control, breaks and bad bytes kept in
    // the stream. With parity, bad bytes are checked and marked so that they can be seen.
    s.iflag &= ~static_cast<std::uint32_t>(IGNBRK | BRKINT | IGNPAR | PARMRK | INPCK | ISTRIP |
                                           INLCR | IGNCR | ICRNL | IUCLC | IXON | IXANY | IXOFF |
                                           IMAXBEL | IUTF8);
    if (parity != kParityNone) s.iflag |= INPCK | PARMRK;

    s.oflag &= ~static_cast<std::uint32_t>(OPOST);
    s.lflag &= ~static_cast<std::uint32_t>(ISIG | ICANON | ECHO | ECHOE | ECHOK | ECHONL |
                                           ECHOCTL | ECHOPRT | ECHOKE | IEXTEN | TOSTOP);
    // A non-blocking read with nothing received then says EAGAIN, not 0.
    s.cc[VMIN] = 1;
    s.cc[VTIME] = 0;
    return s;
}

std::int32_t SpeedOf(const LineSettings& s) {
    return static_cast<std::int32_t>(s.ospeed);
}

std::int32_t ParityOf(const LineSettings& s) {
    if (!(s.cflag & PARENB)) return kParityNone;
    return (s.cflag & PARODD) ? kParityOdd : kParityEven;
}

bool ReadLineSettings(int fd, LineSettings& out) {
    termios2 t{};
    if (::ioctl(fd, TCGETS2, &t) != 0) return false;
    out = FromKernel(t);
    return true;
}

bool WriteLineSettings(int fd, const LineSettings& in) {
    termios2 t = ToKernel(in);
    return ::ioctl(fd, TCSETS2, &t) == 0;
}

}  // namespace zv::posix
