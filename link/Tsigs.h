#pragma once
// The serial link: waitable primitives and the one serial port object.
#include <atomic>
#include <functional>
#include <cstdint>
#include <memory>
#include <string>

#include "link/posix/SerialPort.h"

// A waitable handle. The handle is owned; a primitive whose creation failed holds none,
// and its first WaitFor raises "WaitFor TSignal failed.".
class TSignal {
public:
    TSignal(const TSignal&) = delete;
    TSignal& operator=(const TSignal&) = delete;

    // Timeout in milliseconds; -1 waits for ever. True when signalled / acquired
    // (an abandoned mutex included), false on time-out.
    bool WaitFor(std::int32_t timeoutMs);

    struct Handle;  // the platform object behind the handle

protected:
    explicit TSignal(std::unique_ptr<Handle> handle);
    ~TSignal();
    std::unique_ptr<Handle> FHandle;
};

// Auto-reset event, created non-signalled.
class TSAutoEvent : public TSignal {
public:
    TSAutoEvent();
    void Set();
    void Reset();
};

// Recursive mutex, created not owned. An owner thread that ends while owning it hands
// it to the next waiter.
class TSMutex : public TSignal {
public:
    TSMutex();
    void Release();
};

// The one COM port of the system and its line settings.
class Tsiocom {
public:
    Tsiocom();
    ~Tsiocom();
    Tsiocom(const Tsiocom&) = delete;
    Tsiocom& operator=(const Tsiocom&) = delete;

    // Raises the messages of the port's failure table; FLock is free after every failure.
    void Open(const std::string& name, std::int32_t speed, std::int32_t parity,
              std::int32_t timeoutMs, bool flowControl);
    void Close();
    void Reset();

    // Sends one frame (length 1: SC, 6: SD1, 7..255: SD2; the caller fills DA, SA, FC and
    // data at their frame offsets) and, with a reply buffer of at least 261 bytes, reads
    // and validates one reply frame into it. `sent`, when given, is called once the frame
    // has been written and before the reply is awaited: work that should not hold the
    // request back goes there. It must not raise.
    bool Transact(const std::uint8_t* frame, std::int32_t length, std::uint8_t* reply,
                  std::int32_t replyTimeoutMs, const std::function<void()>& sent = {});

    bool IsOpen() const;

    // Valid reply frames accepted by Transact since it was last set to zero.
    std::atomic<std::uint32_t> FReplyCount{0};

private:
    std::uint64_t ReadTimeout(std::size_t bytes) const;
    std::uint64_t WriteTimeout(std::size_t bytes) const;

    zv::posix::SerialPort FHandle;      // the open device, or none
    zv::posix::LineSettings FDCB{};     // line settings as last read and changed by Open
    zv::posix::Timeouts FTimeouts{};    // the time-outs in force
    std::string FName;                  // the name Open was given
    TSMutex FLock;

    friend struct TsiocomProbe;         // tests: the lock and the time-outs in force
};

// The serial port object of the program.
extern Tsiocom Sio;

// The device that a port name opens on this machine: "COMn" opens $ZAVLO384_COMn when
// it is set, else /dev/ttyS<n-1>; any other name is taken as a path.
std::string DeviceForPort(const std::string& name);
