#include "app/platform/Socket.h"

#include "app/platform/SocketState.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <unordered_map>

namespace sock {
namespace {

// How long one send may wait for room in the send buffer before it returns short: a server that
// stops reading must not freeze the window.
constexpr int kSendStallMs = 500;

bool SetNonBlocking(int fd, bool on) {
    int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0)
        return false;
    flags = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    return ::fcntl(fd, F_SETFL, flags) == 0;
}

using Clock = std::chrono::steady_clock;

// A connection whose path died (no acknowledgement in time, no route any more) is told so once,
// by whichever call comes first. When a send took the news, the next receive would read a plain
// end of stream, as if the server had closed; the layer keeps the error for it instead.
std::mutex g_deadMutex;
std::unordered_map<int, int> g_deadPath;

bool PathDied(int error) {
    return error == ETIMEDOUT || error == EHOSTUNREACH || error == ENETUNREACH ||
           error == EHOSTDOWN;
}

int MsLeft(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

::sockaddr_in Native(const sockaddr_in* name) {
    ::sockaddr_in addr{};
    addr.sin_family = PF_INET;
    addr.sin_port = name->sin_port;
    addr.sin_addr.s_addr = name->sin_addr.s_addr;
    return addr;
}

SystemAddress Given(const ::sockaddr_in& addr) {
    return {addr.sin_port, addr.sin_addr.s_addr};
}

// The system's connect on s made non-blocking: 0, or the errno of the failure (EINPROGRESS while
// it goes on).
int StartConnect(SOCKET s, const sockaddr_in* name) {
    const ::sockaddr_in addr = Native(name);
    if (!SetNonBlocking(s, true))
        return errno;
    return ::connect(s, reinterpret_cast<const ::sockaddr*>(&addr), sizeof addr) == 0 ? 0 : errno;
}

// The error a finished connect left on s (0 when it succeeded).
int ConnectError(int fd) {
    int error = 0;
    socklen_t len = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0)
        error = errno;
    return error;
}

} // namespace

// Keepalive and the user time-out, so that a path that died silently ends the connection with
// ETIMEDOUT instead of leaving it open for a quarter of an hour. A failure leaves the socket as
// the system made it.
void FindDeadPeer(int fd) {
    const int on = 1, idle = kKeepAliveIdleS, interval = kKeepAliveIntervalS,
              probes = kKeepAliveProbes;
    const unsigned userTimeoutMs = kUnacknowledgedLimitS * 1000u;
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
    ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeoutMs, sizeof userTimeoutMs);
}

int WSAStartup() {
    if (int code = g_startupFailure.load())
        return code;
    // A send to a peer that has gone must come back as an error, not end the process.
    std::signal(SIGPIPE, SIG_IGN);
    return 0;
}

SOCKET OpenStream(int protocol) {
    int fd = ::socket(PF_INET, ::SOCK_STREAM | SOCK_CLOEXEC, protocol);
    if (fd < 0) {
        Fail(errno);
        return INVALID_SOCKET;
    }
    return fd;
}

int ConnectAndWait(SOCKET s, const sockaddr_in* name, int timeoutMs) {
    int error = StartConnect(s, name);
    if (error == EINPROGRESS) {
        auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        ::pollfd p{s, POLLOUT, 0};
        for (;;) {
            int n = ::poll(&p, 1, MsLeft(deadline));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                SetNonBlocking(s, false);
                return n == 0 ? ETIMEDOUT : errno;
            }
            break;
        }
        error = ConnectError(s);
    }
    SetNonBlocking(s, false);
    return error;
}

int ConnectWithoutWaiting(SOCKET s, const sockaddr_in* name) {
    return StartConnect(s, name);
}

int connect_result(SOCKET s) {
    if (s < 0)
        return Fail(EBADF);
    if (int error = ConnectError(s))
        return Fail(error);
    ::pollfd p{s, POLLOUT, 0};
    int n;
    do
        n = ::poll(&p, 1, 0);
    while (n < 0 && errno == EINTR);
    if (n < 0)
        return Fail(errno);
    if (n == 0)
        return Fail(EINPROGRESS);
    if (p.revents & POLLNVAL)
        return Fail(EBADF);
    // Writable without an error pending: connected, unless the error was asked for already.
    ::sockaddr_in peer{};
    socklen_t len = sizeof peer;
    if (::getpeername(s, reinterpret_cast<::sockaddr*>(&peer), &len) != 0)
        return Fail(errno);
    return 0;
}

int select(SOCKET s, long sec, long usec) {
    if (s < 0)
        return Fail(EBADF);
    ::pollfd p{s, POLLIN, 0};
    ::timespec ts{static_cast<time_t>(sec + usec / 1000000), (usec % 1000000) * 1000};
    for (;;) {
        int n = ::ppoll(&p, 1, &ts, nullptr);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return Fail(errno);
        if (n > 0 && (p.revents & POLLNVAL))
            return Fail(EBADF);
        return n > 0 ? 1 : 0;
    }
}

int recv(SOCKET s, char* buf, int len, int flags) {
    if (s < 0)
        return Fail(EBADF);
    for (;;) {
        ssize_t n = ::recv(s, buf, static_cast<std::size_t>(len > 0 ? len : 0), flags);
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0 && len > 0) {
            std::lock_guard lock(g_deadMutex);
            if (auto it = g_deadPath.find(s); it != g_deadPath.end())
                return Fail(it->second);
        }
        return n < 0 ? Fail(errno) : static_cast<int>(n);
    }
}

int send(SOCKET s, const char* buf, int len, int flags) {
    if (s < 0)
        return Fail(EBADF);
    if (len <= 0)
        return 0;
    auto deadline = Clock::now() + std::chrono::milliseconds(kSendStallMs);
    int done = 0;
    while (done < len) {
        ssize_t n = ::send(s, buf + done, static_cast<std::size_t>(len - done),
                           flags | MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            done += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            const int error = errno;
            if (PathDied(error)) {
                std::lock_guard lock(g_deadMutex);
                g_deadPath[s] = error;
            }
            return done > 0 ? done : Fail(error);
        }
        if (int flags = ::fcntl(s, F_GETFL); flags >= 0 && (flags & O_NONBLOCK))
            break; // a non-blocking socket takes what it has room for and no more
        ::pollfd p{s, POLLOUT, 0};
        int left = MsLeft(deadline);
        if (left == 0 || ::poll(&p, 1, left) == 0)
            break; // the peer stopped reading: return what went out
    }
    if (done == 0)
        return Fail(EWOULDBLOCK);
    return done;
}

int closesocket(SOCKET s) {
    if (s < 0)
        return Fail(EBADF);
    {
        std::lock_guard lock(g_deadMutex);
        g_deadPath.erase(s);
    }
    return ::close(s) == 0 ? 0 : Fail(errno);
}

int shutdownsend(SOCKET s) {
    if (s < 0)
        return Fail(EBADF);
    return ::shutdown(s, SHUT_WR) == 0 ? 0 : Fail(errno);
}

int bind(SOCKET s, const sockaddr_in* name, int namelen) {
    if (int bad = BadAddress(s, name, namelen))
        return Fail(bad);
    // A listener started again must not wait for the connections of the last one to wind down.
    const int on = 1;
    ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const ::sockaddr_in addr = Native(name);
    return ::bind(s, reinterpret_cast<const ::sockaddr*>(&addr), sizeof addr) == 0 ? 0
                                                                                   : Fail(errno);
}

int listen(SOCKET s, int backlog) {
    if (s < 0)
        return Fail(EBADF);
    return ::listen(s, backlog) == 0 ? 0 : Fail(errno);
}

SOCKET AcceptOne(SOCKET s, SystemAddress& from) {
    ::sockaddr_in peer{};
    socklen_t len = sizeof peer;
    int fd;
    do
        fd = ::accept4(s, reinterpret_cast<::sockaddr*>(&peer), &len, SOCK_CLOEXEC | SOCK_NONBLOCK);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        Fail(errno == EAGAIN ? EWOULDBLOCK : errno);
        return INVALID_SOCKET;
    }
    from = Given(peer);
    return fd;
}

int SocketName(SOCKET s, bool peer, SystemAddress& name) {
    ::sockaddr_in addr{};
    socklen_t len = sizeof addr;
    const int rc = peer ? ::getpeername(s, reinterpret_cast<::sockaddr*>(&addr), &len)
                        : ::getsockname(s, reinterpret_cast<::sockaddr*>(&addr), &len);
    if (rc != 0)
        return errno;
    name = Given(addr);
    return 0;
}

int SwitchNonBlocking(SOCKET s, bool on) {
    return SetNonBlocking(s, on) ? 0 : errno;
}

std::uint32_t SystemInetAddr(const char* cp) {
    return ::inet_addr(cp);
}

// The parentheses keep the C library's optimised htons macro out of the name.
std::uint16_t(htons)(std::uint16_t hostshort) {
    return ::htons(hostshort);
}

std::uint16_t(ntohs)(std::uint16_t netshort) {
    return ::ntohs(netshort);
}

} // namespace sock
