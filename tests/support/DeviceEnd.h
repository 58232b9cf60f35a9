// The device at the far end of a serial line, played by a test: it sends what the port receives
// and takes what the port sent. On Linux the master of a pseudo-terminal (posix/DeviceEnd.cpp);
// under Wine the pseudo-terminal that the relay (tests/win32/PtyRelay.cpp) links into the prefix
// as a COM port and serves over loopback TCP (win32/DeviceEnd.cpp). No system headers here.
#pragma once

#include <chrono>
#include <memory>
#include <string>

namespace testing_support {

class DeviceEnd {
public:
    DeviceEnd();
    ~DeviceEnd();

    // Whether the line is there, with the reason when not.
    bool Ok() const;
    std::string Problem() const;
    // Makes the device the port `name` for a port opened from the current directory, the way the
    // program names ports (section "Ports" of its settings file), and returns the name to open.
    // Under Wine the relay has linked it under the name CTest gave it, which is returned.
    std::string NameAs(const std::string& name);

    // Bytes the port then receives. False on failure.
    bool Send(const std::string& bytes);
    // What the port sent, until `count` bytes came or the time is up. It does not pump a
    // window's messages, so callers that run a window wait in short steps.
    std::string Receive(std::size_t count, std::chrono::milliseconds within);
    // The device goes away: whoever holds the port sees a hang-up.
    void HangUp();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace testing_support
