// Servers on 127.0.0.1 that stop serving, for the tests of the network faults. No system headers
// here, so tests that use the bridge's socket layer can include it.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace fault {

// A socket listening on 127.0.0.1 at a free port; closed at its end.
class LocalListener {
public:
    // 0 when the server could not be set up.
    std::uint16_t Port() const { return port_; }

protected:
    LocalListener(int backlog, int receiveBuffer);
    ~LocalListener();
    LocalListener(const LocalListener&) = delete;
    LocalListener& operator=(const LocalListener&) = delete;

    int listenFd_ = -1;
    std::uint16_t port_ = 0;
};

// A listener whose accept queue is full and which never accepts: a further connect gets no
// answer at all, the way a server host that has stopped serving looks from outside.
class StuckListener : public LocalListener {
public:
    StuckListener();
    ~StuckListener();

private:
    std::vector<int> clients_;
};

// A server with a receive buffer as small as the system allows from the first byte on, so that a
// client's sends fill it quickly while the server does not read.
class SilentServer : public LocalListener {
public:
    SilentServer() : LocalListener(1, 1) {} // the system rounds the buffer up to its minimum
    ~SilentServer();

    bool Accept(std::chrono::milliseconds timeout);
    // Whatever arrives within the time, without waiting for more once something came.
    std::string Read(std::chrono::milliseconds within);

private:
    int clientFd_ = -1;
};

// Makes the send buffer of a connected socket of this process as small as the system allows, the
// way a host short of memory has it, so that a peer that stops reading holds up its sends soon.
void ShrinkSendBuffer(int fd);

} // namespace fault
