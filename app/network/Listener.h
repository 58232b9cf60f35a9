// The listening socket of the device server: opened at an address of this machine, and asked for
// the clients waiting on it without ever waiting itself.
#pragma once

#include "app/platform/Socket.h"

#include <cstdint>
#include <string_view>

class CListener {
public:
    CListener() = default;
    ~CListener() { Close(); }
    CListener(const CListener&) = delete;
    CListener& operator=(const CListener&) = delete;

    // Listens at ip:port (port 0: one the system picks); an open listener is closed first. 0, or
    // the reason as errno: EINVAL for an ip that is not a plain a.b.c.d, else the system's
    // (EADDRINUSE: the port is taken; EADDRNOTAVAIL: no interface has that address; EACCES ...),
    // or the code of a failed WSAStartup.
    int Open(std::string_view ip, std::uint16_t port);
    void Close();
    bool IsOpen() const { return m_socket != sock::INVALID_SOCKET; }
    // Readable while clients wait: what a watch looks at.
    sock::SOCKET Socket() const { return m_socket; }
    // The address and port it listens at, host order.
    std::uint32_t Address() const { return m_address; }
    std::uint16_t Port() const { return m_port; }

    // The next waiting client, non-blocking, with its address in *pPeer; INVALID_SOCKET when
    // nobody waits (or the system cannot take one now: the error is in WSAGetLastError()).
    sock::SOCKET Accept(sock::sockaddr_in* pPeer);

private:
    sock::SOCKET m_socket = sock::INVALID_SOCKET;
    std::uint32_t m_address = 0;
    std::uint16_t m_port = 0;
};
