// What the port layer needs from a device: a terminal opened by path, or the simulated device of
// the tests. Every call returns 0 or an errno value; none blocks except Drain.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <sys/types.h>

namespace comm {

// The part of the line state that a device holds itself.
struct LineSettings {
    std::uint32_t baud = 9600;
    std::uint8_t dataBits = 8;
    std::uint8_t parity = 0;   // NOPARITY .. SPACEPARITY
    std::uint8_t stopBits = 0; // ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS
    bool parityCheck = false;  // check parity on input
    bool ctsRtsFlow = false;   // hardware flow control
    bool xonXoffOut = false;   // output obeys XON/XOFF
    bool xonXoffIn = false;    // input sends XON/XOFF
    char xonChar = 0x11;
    char xoffChar = 0x13;

    bool operator==(const LineSettings&) const = default;
};

// Running totals of line events since the device was opened.
struct LineCounters {
    std::uint32_t cts = 0, dsr = 0, ring = 0, dcd = 0;
    std::uint32_t frame = 0, overrun = 0, parity = 0, brk = 0, bufOverrun = 0;
};

// Modem lines, as TIOCM_ bits.
inline constexpr int kLineDtr = 0x002;
inline constexpr int kLineRts = 0x004;
inline constexpr int kLineCts = 0x020;
inline constexpr int kLineDcd = 0x040;
inline constexpr int kLineRing = 0x080;
inline constexpr int kLineDsr = 0x100;

class Device {
public:
    virtual ~Device() = default;
    // Descriptor the worker polls for readable and writable data, non-blocking.
    virtual int Fd() const = 0;
    // Like read(2)/write(2) on the descriptor: a count, or -1 with errno.
    virtual ssize_t Read(void* buf, std::size_t n) = 0;
    virtual ssize_t Write(const void* buf, std::size_t n) = 0;
    virtual int GetLine(LineSettings& line) = 0;
    virtual int SetLine(const LineSettings& line) = 0;
    virtual int GetModemLines(int& bits) = 0;
    // Raises (on) or drops the given output lines.
    virtual int SetModemLines(int bits, bool on) = 0;
    // Starts (on) or ends a break: the line stays in the spacing state until it ends.
    virtual int SetBreak(bool on) = 0;
    virtual int GetCounters(LineCounters& counters) = 0;
    virtual int InQueue(std::uint32_t& bytes) = 0;
    virtual int OutQueue(std::uint32_t& bytes) = 0;
    virtual int DiscardInput() = 0;
    virtual int DiscardOutput() = 0;
    // Waits until queued output has left; may block.
    virtual int Drain() = 0;
};

// Devices that are no device node, such as the simulated device of the tests, come in through
// this hook, which CreateFileA asks before it resolves a name: it returns true when it knows the
// name, with the opened device or a null device and the error code. The program installs none.
using DeviceOpener = bool (*)(const char* name, std::unique_ptr<Device>& device,
                              std::uint32_t& error);
void SetDeviceOpener(DeviceOpener opener);

} // namespace comm
