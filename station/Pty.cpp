#include "station/Pty.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include "common/Error.h"

namespace zv::station {

namespace {
std::string Why(const char* what) { return std::string(what) + ": " + std::strerror(errno); }
}  // namespace

Pty::Pty() {
    FMaster = posix_openpt(O_RDWR | O_NOCTTY);
    if (FMaster < 0) throw Error(Why("posix_openpt"));
    try {
        if (grantpt(FMaster) != 0) throw Error(Why("grantpt"));
        if (unlockpt(FMaster) != 0) throw Error(Why("unlockpt"));
        char name[128];
        if (ptsname_r(FMaster, name, sizeof name) != 0) throw Error(Why("ptsname_r"));
        FPath = name;
        const int fl = fcntl(FMaster, F_GETFL);
        if (fl < 0 || fcntl(FMaster, F_SETFL, fl | O_NONBLOCK) != 0) throw Error(Why("fcntl"));
        fcntl(FMaster, F_SETFD, FD_CLOEXEC);
        FSlave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (FSlave < 0) throw Error(Why("open slave"));
        // Raw: an echoing or line-editing slave would hand the host's bytes back or hold
        // them until a line end.
        termios t{};
        if (tcgetattr(FSlave, &t) != 0) throw Error(Why("tcgetattr"));
        cfmakeraw(&t);
        t.c_cc[VMIN] = 1;
        t.c_cc[VTIME] = 0;
        if (tcsetattr(FSlave, TCSANOW, &t) != 0) throw Error(Why("tcsetattr"));
    } catch (...) {
        if (FSlave >= 0) close(FSlave);
        close(FMaster);
        throw;
    }
}

Pty::~Pty() {
    if (FSlave >= 0) close(FSlave);
    CloseMaster();
}

void Pty::CloseMaster() {
    if (FMaster >= 0) close(FMaster);
    FMaster = -1;
}

}  // namespace zv::station
