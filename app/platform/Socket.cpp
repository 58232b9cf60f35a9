// The parts of the sockets that both backends keep alike: the checks of the arguments before a
// call reaches the system, the calling thread's last error and the settings the test seams change.
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

namespace {

// Hands an address the system gave to the caller's record: true, or false when that has no room
// for it. No record asked for is fine.
bool GiveAddress(const SystemAddress& given, sockaddr_in* name, int* namelen) {
    if (!name)
        return true;
    if (!namelen || *namelen < static_cast<int>(sizeof(sockaddr_in)))
        return false;
    *name = sockaddr_in{};
    name->sin_family = AF_INET;
    name->sin_port = given.port;
    name->sin_addr.s_addr = given.address;
    *namelen = sizeof(sockaddr_in);
    return true;
}

int GiveSocketName(SOCKET s, bool peer, sockaddr_in* name, int* namelen) {
    if (s < 0)
        return Fail(EBADF);
    SystemAddress given;
    if (int error = SocketName(s, peer, given))
        return Fail(error);
    return GiveAddress(given, name, namelen) ? 0 : Fail(EFAULT);
}

} // namespace

SOCKET socket(int af, int type, int protocol) {
    if (af != AF_INET || type != SOCK_STREAM) {
        Fail(EAFNOSUPPORT);
        return INVALID_SOCKET;
    }
    const SOCKET s = OpenStream(protocol);
    if (s != INVALID_SOCKET)
        FindDeadPeer(s);
    return s;
}

int connect(SOCKET s, const sockaddr_in* name, int namelen) {
    if (int refused = RefusedTarget(s, name, namelen))
        return Fail(refused);
    const int error = ConnectAndWait(s, name, g_connectTimeoutMs.load());
    return error == 0 ? 0 : Fail(error);
}

int connect_start(SOCKET s, const sockaddr_in* name, int namelen) {
    if (int refused = RefusedTarget(s, name, namelen))
        return Fail(refused);
    const int error = ConnectWithoutWaiting(s, name);
    return error == 0 ? 0 : Fail(error);
}

SOCKET accept(SOCKET s, sockaddr_in* addr, int* addrlen) {
    if (s < 0 || (addr && (!addrlen || *addrlen < static_cast<int>(sizeof(sockaddr_in))))) {
        Fail(s < 0 ? EBADF : EFAULT);
        return INVALID_SOCKET;
    }
    SystemAddress from;
    const SOCKET client = AcceptOne(s, from);
    if (client != INVALID_SOCKET) {
        FindDeadPeer(client);
        GiveAddress(from, addr, addrlen);
    }
    return client;
}

int getpeername(SOCKET s, sockaddr_in* name, int* namelen) {
    return GiveSocketName(s, true, name, namelen);
}

int getsockname(SOCKET s, sockaddr_in* name, int* namelen) {
    return GiveSocketName(s, false, name, namelen);
}

int ioctlsocket(SOCKET s, long cmd, std::uint32_t* argp) {
    if (s < 0)
        return Fail(EBADF);
    if (cmd != FIONBIO || !argp)
        return Fail(EINVAL);
    const int error = SwitchNonBlocking(s, *argp != 0);
    return error == 0 ? 0 : Fail(error);
}

std::uint32_t inet_addr(const char* cp) {
    return cp ? SystemInetAddr(cp) : INADDR_NONE;
}

int WSAGetLastError() {
    return t_lastError;
}

int ConnectTimeoutMs() {
    return g_connectTimeoutMs.load();
}

} // namespace sock
