#include "app/network/Listener.h"

#include "app/network/Address.h"

#include <cerrno>

namespace {

// Clients that may wait for their accept; more are turned away by the system.
constexpr int kWaitingClients = 64;
// Clients that gave up while they waited are skipped, at most this many at a time.
constexpr int kAbortedSkipped = 64;

} // namespace

int CListener::Open(std::string_view ip, std::uint16_t port) {
    Close();
    const std::optional<std::uint32_t> address = ParseIpv4(ip);
    if (!address)
        return EINVAL;
    if (int error = sock::WSAStartup())
        return error;
    const sock::SOCKET s = sock::socket(sock::AF_INET, sock::SOCK_STREAM, 0);
    if (s == sock::INVALID_SOCKET)
        return sock::WSAGetLastError();
    const sock::sockaddr_in local = Endpoint(*address, port);
    std::uint32_t nonBlocking = 1;
    if (sock::bind(s, &local, sizeof local) != 0 || sock::listen(s, kWaitingClients) != 0 ||
        sock::ioctlsocket(s, sock::FIONBIO, &nonBlocking) != 0) {
        const int error = sock::WSAGetLastError();
        sock::closesocket(s);
        return error;
    }
    sock::sockaddr_in bound{};
    int length = sizeof bound;
    m_socket = s;
    m_address = *address;
    m_port = sock::getsockname(s, &bound, &length) == 0 ? PortOf(bound) : port;
    return 0;
}

void CListener::Close() {
    if (m_socket != sock::INVALID_SOCKET)
        sock::closesocket(m_socket);
    m_socket = sock::INVALID_SOCKET;
    m_address = 0;
    m_port = 0;
}

sock::SOCKET CListener::Accept(sock::sockaddr_in* pPeer) {
    for (int skipped = 0; skipped < kAbortedSkipped; ++skipped) {
        int length = sizeof *pPeer;
        const sock::SOCKET s = sock::accept(m_socket, pPeer, &length);
        if (s != sock::INVALID_SOCKET || sock::WSAGetLastError() != ECONNABORTED)
            return s;
    }
    return sock::INVALID_SOCKET;
}
