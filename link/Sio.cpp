// Tsiocom: the one serial port of the program, its line settings and time-outs, and the
// global Sio. Every operation holds FLock from start to end, failures included.
#include <cstdlib>

#include "common/Error.h"
#include "common/Messages.h"
#include "link/CharTime.h"
#include "link/PortLock.h"
#include "link/Tsigs.h"

namespace posix = zv::posix;

Tsiocom Sio;

std::string DeviceForPort(const std::string& name) {
    const bool com = name.size() == 4 && (name[0] == 'C' || name[0] == 'c') &&
                     (name[1] == 'O' || name[1] == 'o') && (name[2] == 'M' || name[2] == 'm') &&
                     name[3] >= '1' && name[3] <= '9';
    if (!com) return name;
    const std::string var = std::string("ZAVLO384_COM") + name[3];
    if (const char* dev = std::getenv(var.c_str()); dev != nullptr && *dev != '\0') return dev;
    return std::string("/dev/ttyS") + static_cast<char>(name[3] - 1);
}

Tsiocom::Tsiocom() = default;

Tsiocom::~Tsiocom() { Close(); }

bool Tsiocom::IsOpen() const { return FHandle.IsOpen(); }

std::uint64_t Tsiocom::ReadTimeout(std::size_t bytes) const {
    return FTimeouts.readConstant + std::uint64_t{FTimeouts.readMultiplier} * bytes;
}

std::uint64_t Tsiocom::WriteTimeout(std::size_t bytes) const {
    return FTimeouts.writeConstant + std::uint64_t{FTimeouts.writeMultiplier} * bytes;
}

void Tsiocom::Open(const std::string& name, std::int32_t speed, std::int32_t parity,
                   std::int32_t timeoutMs, bool flowControl) {
    zv::link::PortLock lock(FLock);
    FHandle.Close();
    FName = name;
    if (!FHandle.Open(DeviceForPort(name))) throw zv::Error(zv::msg::PortNelzeVybrat(name));
    // From here on a failure leaves the port closed (before the lock is given back).
    struct CloseOnFailure {
        posix::SerialPort& port;
        bool done = false;
        ~CloseOnFailure() {
            if (!done) port.Close();
        }
    } guard{FHandle};

    // Linux raises DTR and RTS on open; take them where the handshake wants them now.
    FHandle.SetFlowControl(flowControl);

    posix::LineSettings current;
    if (!FHandle.GetSettings(current)) throw zv::Error(zv::msg::NelzeZiskatNastaveni(name));
    FDCB = current;
    if (speed < 1 || parity < posix::kParityNone || parity > posix::kParityEven)
        throw zv::Error(zv::msg::NelzeNastavitParametry);
    FDCB = posix::BuildLineSettings(speed, parity, flowControl, current);
    if (!FHandle.SetSettings(FDCB)) throw zv::Error(zv::msg::NelzeNastavitParametry);
    FHandle.RequestLowLatency();
    // Whatever came in before the port was set up is not a reply to anything of ours.
    FHandle.FlushInput();
    FHandle.ClearErrors();

    const auto t = static_cast<std::uint32_t>(zv::link::CharTime(speed, parity != posix::kParityNone));
    FTimeouts.readMultiplier = 3 * t;
    FTimeouts.readConstant = static_cast<std::uint32_t>(timeoutMs);
    FTimeouts.writeMultiplier = 2 * t;
    FTimeouts.writeConstant = 500;
    guard.done = true;
}

void Tsiocom::Close() {
    zv::link::PortLock lock(FLock);
    FHandle.Close();
}

void Tsiocom::Reset() {
    zv::link::PortLock lock(FLock);
    if (!FHandle.IsOpen()) return;
    FHandle.ClearErrors();
    posix::LineSettings current;
    if (!FHandle.GetSettings(current)) throw zv::Error(zv::msg::GetCommStateFailed);
    FDCB = current;
    if (!FHandle.SetSettings(FDCB)) throw zv::Error(zv::msg::SetCommStateFailed);
}
