// The parts of the sockets that both backends keep alike: the calling thread's last error and
// the settings the test seams change.
#include "app/platform/Socket.h"

#include "app/platform/SocketState.h"

#include <cerrno>

namespace sock {

std::atomic<int> g_startupFailure{0};
std::atomic<int> g_connectTimeoutMs{5000};

namespace {
thread_local int t_lastError = 0;
} // namespace

int Fail(int error) {
    t_lastError = error;
    return SOCKET_ERROR;
}

int BadAddress(SOCKET s, const sockaddr_in* name, int namelen) {
    if (s < 0)
        return EBADF;
    if (!name || namelen < static_cast<int>(sizeof(sockaddr_in)) || name->sin_family != AF_INET)
        return EINVAL;
    return 0;
}

int RefusedTarget(SOCKET s, const sockaddr_in* name, int namelen) {
    if (int bad = BadAddress(s, name, namelen))
        return bad;
    if (name->sin_addr.s_addr == 0 || name->sin_port == 0)
        return EADDRNOTAVAIL;
    return 0;
}

bool GiveAddress(std::uint16_t port, std::uint32_t address, sockaddr_in* name, int* namelen) {
    if (!name)
        return true;
    if (!namelen || *namelen < static_cast<int>(sizeof(sockaddr_in)))
        return false;
    *name = sockaddr_in{};
    name->sin_family = AF_INET;
    name->sin_port = port;
    name->sin_addr.s_addr = address;
    *namelen = sizeof(sockaddr_in);
    return true;
}

SOCKET accept(SOCKET s, sockaddr_in* addr, int* addrlen) {
    if (s < 0 || (addr && (!addrlen || *addrlen < static_cast<int>(sizeof(sockaddr_in))))) {
        Fail(s < 0 ? EBADF : EFAULT);
        return INVALID_SOCKET;
    }
    return AcceptOne(s, addr, addrlen);
}

int getpeername(SOCKET s, sockaddr_in* name, int* namelen) {
    return s < 0 ? Fail(EBADF) : SocketName(s, true, name, namelen);
}

int getsockname(SOCKET s, sockaddr_in* name, int* namelen) {
    return s < 0 ? Fail(EBADF) : SocketName(s, false, name, namelen);
}

int WSAGetLastError() {
    return t_lastError;
}

int ConnectTimeoutMs() {
    return g_connectTimeoutMs.load();
}

} // namespace sock
