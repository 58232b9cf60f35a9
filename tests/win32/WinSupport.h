// Rigs of the Windows tests, on Winsock and without Windows headers, so that test files can use
// them beside the stand-ins' own headers: a loopback server to connect the socket layer to, and
// the far end of a COM port that the Linux helper (PtyRelay.cpp) serves over loopback TCP.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace win_support {

using namespace std::chrono_literals;

// Polls `condition` until it holds or the time is up; returns its last value.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds within);

// A TCP server on 127.0.0.1 with one client at a time.
class LoopbackServer {
public:
    LoopbackServer(); // listens on a free port
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    std::uint16_t Port() const { return port_; }
    bool Accept(std::chrono::milliseconds within = 5s);
    bool Send(const std::string& bytes);
    // Reads until `count` bytes came or the time is up.
    std::string Receive(std::size_t count, std::chrono::milliseconds within = 5s);
    void CloseClient();
    // Abortive close: the client sees a reset.
    void ResetClient();

private:
    std::uintptr_t listener_;
    std::uintptr_t client_;
    std::uint16_t port_ = 0;
};

// The device end of the COM port that the relay links into the Wine prefix. Constructing it asks
// the relay for a fresh pseudo-terminal under the port name and waits until it is there.
class RelayDevice {
public:
    RelayDevice();
    ~RelayDevice();
    RelayDevice(const RelayDevice&) = delete;
    RelayDevice& operator=(const RelayDevice&) = delete;

    // The COM port's name, and whether the relay answered (with the reason when not).
    static std::string PortName();
    bool Ok() const { return ok_; }
    const std::string& Problem() const { return problem_; }

    // Bytes the port then receives.
    bool Send(const std::string& bytes);
    // What the port sent, until `count` bytes came or the time is up.
    std::string Receive(std::size_t count, std::chrono::milliseconds within = 5s);
    // The device goes away: the relay hangs the terminal up.
    void HangUp();

private:
    std::uintptr_t socket_;
    bool ok_ = false;
    std::string problem_;
};

} // namespace win_support
