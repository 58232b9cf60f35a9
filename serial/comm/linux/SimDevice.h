// A simulated serial device for tests, in a library of its own that only tests link. While a
// SimDevice object lives, CreateFileA opens it under its name (before any other resolution of the
// name): the first object installs OpenSimDevice as the layer's device opener. The test plays the
// far end: it feeds the bytes the port receives, reads what the port sent, sets the modem input
// lines, injects line errors and breaks, and can hang the device up.
#pragma once

#include "serial/comm/linux/Device.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace comm {

class SimDevice {
public:
    struct State;

    explicit SimDevice(const std::string& name);
    ~SimDevice();
    SimDevice(const SimDevice&) = delete;
    SimDevice& operator=(const SimDevice&) = delete;

    // Bytes that the port then receives. False once hung up.
    bool Feed(const std::string& bytes);
    // Reads what the port sent until at least `count` bytes came or the deadline passed.
    std::string TakeSent(std::size_t count, std::chrono::milliseconds within);

    // Modem input lines (kLineCts, kLineDsr, kLineRing, kLineDcd); every change of a line counts
    // as a modem event of that line.
    void SetInputLines(int bits);
    // Output lines as the port last drove them (kLineDtr, kLineRts).
    int OutputLines() const;
    // Whether the port holds a break on the line.
    bool Breaking() const;
    // Adds line events: frame, overrun and parity errors, breaks.
    void InjectErrors(LineCounters added);
    // The device's own line settings, as the port last applied them.
    LineSettings Line() const;
    void SetLine(const LineSettings& line);
    // What the device reports as not yet sent.
    void SetOutQueue(std::uint32_t bytes);
    // Without modem lines, the modem-line calls fail as they do on a pseudo-terminal.
    void SetHasModemLines(bool has);

    // The device disappears: the port sees a hang-up, a new open fails until the object is gone.
    void HangUp();
    // The same, but the port's descriptor does not tell yet: the next call on the device finds
    // out, as with a driver that reports the loss on a call before poll shows it.
    void HangUpQuietly();
    bool IsOpen() const;
    int InputDiscards() const;
    int OutputDiscards() const;

private:
    // One field of the state, read under its lock.
    template <typename T> T Read(T State::*field) const;

    std::shared_ptr<State> state_;
};

// Used by CreateFileA: the device registered under `name`, if any. Returns true when the name is
// a simulated device, with the opened device or a null device and the error code.
bool OpenSimDevice(const char* name, std::unique_ptr<Device>& device, std::uint32_t& error);

} // namespace comm
