// What the window tests that run on every backend need of the platform: the serial device behind
// the port the window opens as COM3, and a TCP server on 127.0.0.1. On Linux (WindowRigPosix.cpp)
// a pseudo-terminal named in the settings file; on Windows under Wine (tests/win32/WindowRig.cpp)
// the pseudo-terminal that the relay links into the prefix as COM3.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace window_rig {

using namespace std::chrono_literals;

class Device {
public:
    Device();
    ~Device();
    bool Ok() const;
    std::string Problem() const;
    bool Send(const std::string& bytes);
    // What the device received, until `count` bytes came or the time is up; it does not pump the
    // window's messages, so callers wait in short steps.
    std::string Receive(std::size_t count, std::chrono::milliseconds within);
    // Points the settings file in the current directory at the device as COM3, if the platform
    // needs that.
    void NameAsCom3();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

class Server {
public:
    Server();
    ~Server();
    bool Listening() const;
    std::uint16_t Port() const;
    bool Accept(std::chrono::milliseconds within);
    bool Send(const std::string& bytes);
    std::string Receive(std::size_t count, std::chrono::milliseconds within);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace window_rig
