// The loopback peer: a TCP server on 127.0.0.1 standing in for the far end of the bridge.
#pragma once

#include "tools/demo/Console.h"
#include "tools/demo/Fd.h"

#include <cstdint>

namespace demo {

class Peer {
public:
    // Listens on 127.0.0.1:port. Prints why on failure (a port in use says so).
    bool Listen(std::uint16_t port);

    int ListenFd() const { return m_listen.Get(); }
    int ClientFd() const { return m_client.Get(); }

    // Takes the waiting connection; a new connection replaces the current one.
    void OnAccept();

    // Prints the block that arrived and answers it with "ACK <n> bytes\r\n"; notices a close.
    void OnReadable();

    // Sends the next frame ("PING nnnn\r\n") when it is due and a client is connected.
    void OnTime(Clock::time_point now);
    Clock::time_point NextDue() const;

private:
    void Send(const char* data, std::size_t size);
    void Drop(const char* why);

    Fd m_listen;
    Fd m_client;
    Clock::time_point m_due;
    unsigned m_frames = 0;
};

} // namespace demo
