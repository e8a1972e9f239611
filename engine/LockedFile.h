#pragma once
// A file the memory and service commands hold for the length of one command: opened
// without creating it, locked against every other holder, closed on every path.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <string>

namespace zv {

class LockedFile {
public:
    LockedFile() = default;
    LockedFile(const LockedFile&) = delete;
    LockedFile& operator=(const LockedFile&) = delete;
    ~LockedFile() {
        if (FFd >= 0) ::close(FFd);
    }

    // `path` in the file system's encoding; `flags` never create or truncate. False when
    // the file cannot be opened, is a FIFO, or another holder has it locked. A FIFO
    // without its other end would block open() for ever, where no stop reaches it, so
    // the open does not block and a FIFO is refused.
    bool Open(const std::string& path, int flags) {
        FFd = ::open(path.c_str(), (flags & ~(O_CREAT | O_TRUNC)) | O_CLOEXEC | O_NONBLOCK);
        if (FFd < 0) return false;
        struct stat kind {};
        if (::fstat(FFd, &kind) != 0 || S_ISFIFO(kind.st_mode) || ::flock(FFd, LOCK_EX | LOCK_NB) != 0) {
            ::close(FFd);
            FFd = -1;
            return false;
        }
        return true;
    }

    int Fd() const { return FFd; }

    // The whole buffer, across short writes; false on any failure.
    bool WriteAll(const void* data, std::size_t n) {
        const char* p = static_cast<const char*>(data);
        while (n > 0) {
            const ssize_t w = ::write(FFd, p, n);
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) return false;
            p += w;
            n -= static_cast<std::size_t>(w);
        }
        return true;
    }

    // Up to `n` bytes, fewer only at the end of the file; -1 on failure.
    ssize_t ReadUpTo(void* data, std::size_t n) {
        char* p = static_cast<char*>(data);
        std::size_t got = 0;
        while (got < n) {
            const ssize_t r = ::read(FFd, p + got, n - got);
            if (r < 0 && errno == EINTR) continue;
            if (r < 0) return -1;
            if (r == 0) break;
            got += static_cast<std::size_t>(r);
        }
        return static_cast<ssize_t>(got);
    }

private:
    int FFd = -1;
};

}  // namespace zv
