#pragma once
// The small platform layer beneath Tsiocom: the line settings of a serial device,
// exclusive open, reads and writes with total time-outs over poll(), and the line-error
// state. This and SerialPort.cpp / Termios2.cpp are the only places that talk ioctl().
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace zv::posix {

// The kernel's termios2 record, field by field, in a type of our own: the kernel header
// that defines termios2 cannot share a source file with the C library's <termios.h>.
// The flag bits have the values of <termios.h> (PARENB, CRTSCTS, INPCK, ...).
struct LineSettings {
    std::uint32_t iflag = 0;
    std::uint32_t oflag = 0;
    std::uint32_t cflag = 0;
    std::uint32_t lflag = 0;
    std::uint8_t line = 0;
    std::uint8_t cc[32] = {};  // the kernel's c_cc, of its own length (19 on most machines)
    std::uint32_t ispeed = 0;
    std::uint32_t ospeed = 0;
};

// Parity argument of Open: 0 none, 1 odd, 2 even.
enum : std::int32_t { kParityNone = 0, kParityOdd = 1, kParityEven = 2 };

// The settings Open applies: `current` with the speed (any value, through BOTHER), 8 data
// bits, 1 stop bit, the parity with input parity checking and marking, raw input and
// output, no XON/XOFF, CREAD|CLOCAL, and CRTSCTS when flow control is on. Pure. The
// caller refuses speeds below 1 and parities outside 0..2 before it gets here.
LineSettings BuildLineSettings(std::int32_t speed, std::int32_t parity, bool flowControl,
                               const LineSettings& current);

// Speed in bits per second and parity (0 none, 1 odd, 2 even) that settings stand for.
std::int32_t SpeedOf(const LineSettings& s);
std::int32_t ParityOf(const LineSettings& s);

// TCGETS2 / TCSETS2 on a descriptor. False on failure.
bool ReadLineSettings(int fd, LineSettings& out);
bool WriteLineSettings(int fd, const LineSettings& in);

// Total time-outs of reads and writes: a constant plus a time per byte asked for, in
// milliseconds, unsigned like the ones of the port driver. No interval time-out.
struct Timeouts {
    std::uint32_t readMultiplier = 0;
    std::uint32_t readConstant = 0;
    std::uint32_t writeMultiplier = 0;
    std::uint32_t writeConstant = 0;
};

// Undoes the marks that PARMRK puts into the input: 0xFF 0xFF is a data byte 0xFF,
// 0xFF 0x00 x is a byte received with a parity or framing error (or a break).
class ParityMarkDecoder {
public:
    // Decodes n raw bytes in place; returns the number of data bytes now at the front of
    // buf. Sets the error flag when a marked byte was seen. A mark cut at the end of buf is
    // finished by the next call.
    std::size_t Decode(std::uint8_t* buf, std::size_t n);
    bool Error() const { return error_; }
    void ClearError() { error_ = false; }
    void Restart() { state_ = 0; }

private:
    int state_ = 0;  // 0: plain, 1: after 0xFF, 2: after 0xFF 0x00
    bool error_ = false;
};

// One open serial device. Not safe to use from two threads at once: Tsiocom's lock
// guards it. IsOpen alone may be asked from any thread.
class SerialPort {
public:
    SerialPort() = default;
    ~SerialPort() { Close(); }
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens the device for reading and writing, non-blocking, and takes it for this
    // program alone (TIOCEXCL and flock). False when it cannot be opened or is held by
    // another program; nothing stays open then.
    bool Open(const std::string& device);
    bool IsOpen() const { return fd_.load(std::memory_order_acquire) >= 0; }
    // Gives the device back: the settings it had when it was opened, exclusive mode
    // off, descriptor closed. Nothing happens when it is not open.
    void Close();

    bool GetSettings(LineSettings& out) const;
    // Applies settings; the parity marks are undone on reading when they ask for them.
    bool SetSettings(const LineSettings& in);

    // Modem lines for the handshake: on, DTR raised and RTS left to CRTSCTS; off, DTR
    // and RTS dropped, RTS raised only while sending (the driver's RS-485 mode where it
    // has one, else by hand around each write). A device without modem lines is left
    // alone.
    void SetFlowControl(bool on);
    // Asks the driver for low latency; a driver without it is left as it is.
    void RequestLowLatency();

    // Clears the line-error state (framing, parity, overrun, break); true when an error
    // had been seen since the last clear. Reads and writes fail while it is set.
    bool ClearErrors();
    // Throws away what has been received and not yet read.
    bool FlushInput();

    // Reads up to n bytes within timeoutMs (UINT64_MAX: no limit). Returns the count
    // read, fewer than n when the time ran out, or -1 when the read failed (device
    // gone, line error).
    long Read(std::uint8_t* buf, std::size_t n, std::uint64_t timeoutMs);
    // Writes n bytes, going on until all are out or timeoutMs has passed. Returns the
    // count written, or -1 when the write failed.
    long Write(const std::uint8_t* buf, std::size_t n, std::uint64_t timeoutMs);

private:
    struct Counts {
        int frame = 0, overrun = 0, parity = 0, brk = 0, bufOverrun = 0;
        bool operator==(const Counts&) const = default;
    };
    bool ReadCounts(Counts& out) const;
    bool LineError() const;

    std::atomic<int> fd_{-1};
    bool haveOriginal_ = false;
    LineSettings original_{};
    bool marks_ = false;           // PARMRK on: decode the input
    ParityMarkDecoder decoder_;
    bool counts_ = false;          // the driver counts line errors (TIOCGICOUNT)
    Counts baseline_{};
    bool modemLines_ = false;      // the device has DTR/RTS
    bool toggleRts_ = false;       // raise RTS by hand around each write
    bool flowControl_ = false;     // CTS/RTS handshake on
    bool haveRs485_ = false;       // the driver's RS-485 settings as found at open
    bool changedRs485_ = false;
    unsigned char rs485_[32] = {};  // struct serial_rs485, kept opaque here
};

}  // namespace zv::posix
