// Servers on 127.0.0.1 that stop serving, for the tests of the network faults. No system headers
// here, so tests that use the bridge's socket layer can include it.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace fault {

// A listener whose accept queue is full and which never accepts: a further connect gets no
// answer at all, the way a server host that has stopped serving looks from outside.
class StuckListener {
public:
    StuckListener();
    ~StuckListener();
    StuckListener(const StuckListener&) = delete;
    StuckListener& operator=(const StuckListener&) = delete;

    // 0 when the listener could not be set up.
    std::uint16_t Port() const { return port_; }

private:
    int listenFd_ = -1;
    std::vector<int> clients_;
    std::uint16_t port_ = 0;
};

// A server with a receive buffer as small as the system allows from the first byte on, so that a
// client's sends fill it quickly while the server does not read.
class SilentServer {
public:
    SilentServer();
    ~SilentServer();
    SilentServer(const SilentServer&) = delete;
    SilentServer& operator=(const SilentServer&) = delete;

    std::uint16_t Port() const { return port_; }
    bool Accept(std::chrono::milliseconds timeout);
    // Whatever arrives within the time, without waiting for more once something came.
    std::string Read(std::chrono::milliseconds within);

private:
    int listenFd_ = -1;
    int clientFd_ = -1;
    std::uint16_t port_ = 0;
};

// Makes the send buffer of a connected socket of this process as small as the system allows, the
// way a host short of memory has it, so that a peer that stops reading holds up its sends soon.
void ShrinkSendBuffer(int fd);

} // namespace fault
