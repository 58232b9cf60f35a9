#include "app/platform/Socket.h"

#include "app/platform/SocketState.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

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

int MsLeft(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

} // namespace

int WSAStartup() {
    if (int code = g_startupFailure.load())
        return code;
    // A send to a peer that has gone must come back as an error, not end the process.
    std::signal(SIGPIPE, SIG_IGN);
    return 0;
}

SOCKET socket(int af, int type, int protocol) {
    if (af != AF_INET || type != SOCK_STREAM) {
        Fail(EAFNOSUPPORT);
        return INVALID_SOCKET;
    }
    int fd = ::socket(PF_INET, ::SOCK_STREAM | SOCK_CLOEXEC, protocol);
    if (fd < 0) {
        Fail(errno);
        return INVALID_SOCKET;
    }
    return fd;
}

int connect(SOCKET s, const sockaddr_in* name, int namelen) {
    if (s < 0)
        return Fail(EBADF);
    if (!name || namelen < static_cast<int>(sizeof(sockaddr_in)) || name->sin_family != AF_INET)
        return Fail(EINVAL);
    // The unspecified address and port 0 name no server (elsewhere 0.0.0.0 would mean this host).
    if (name->sin_addr.s_addr == 0 || name->sin_port == 0)
        return Fail(EADDRNOTAVAIL);

    ::sockaddr_in addr{};
    addr.sin_family = PF_INET;
    addr.sin_port = name->sin_port;
    addr.sin_addr.s_addr = name->sin_addr.s_addr;

    if (!SetNonBlocking(s, true))
        return Fail(errno);
    int rc = ::connect(s, reinterpret_cast<const ::sockaddr*>(&addr), sizeof addr);
    if (rc != 0 && errno == EINPROGRESS) {
        auto deadline = Clock::now() + std::chrono::milliseconds(g_connectTimeoutMs.load());
        ::pollfd p{s, POLLOUT, 0};
        for (;;) {
            int n = ::poll(&p, 1, MsLeft(deadline));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                SetNonBlocking(s, false);
                return Fail(n == 0 ? ETIMEDOUT : errno);
            }
            break;
        }
        int error = 0;
        socklen_t len = sizeof error;
        if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &len) != 0)
            error = errno;
        rc = error == 0 ? 0 : -1;
        errno = error;
    }
    int saved = errno;
    SetNonBlocking(s, false);
    return rc == 0 ? 0 : Fail(saved);
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
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return done > 0 ? done : Fail(errno);
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
    return ::close(s) == 0 ? 0 : Fail(errno);
}

int ioctlsocket(SOCKET s, long cmd, std::uint32_t* argp) {
    if (s < 0)
        return Fail(EBADF);
    if (cmd != FIONBIO || !argp)
        return Fail(EINVAL);
    return SetNonBlocking(s, *argp != 0) ? 0 : Fail(errno);
}

std::uint32_t inet_addr(const char* cp) {
    if (!cp)
        return INADDR_NONE;
    return ::inet_addr(cp);
}

// The parentheses keep the C library's optimised htons macro out of the name.
std::uint16_t(htons)(std::uint16_t hostshort) {
    return ::htons(hostshort);
}

int connect_start(SOCKET s, const sockaddr_in* name, int namelen) {
    if (s < 0)
        return Fail(EBADF);
    if (!name || namelen < static_cast<int>(sizeof(sockaddr_in)) || name->sin_family != AF_INET)
        return Fail(EINVAL);
    if (name->sin_addr.s_addr == 0 || name->sin_port == 0)
        return Fail(EADDRNOTAVAIL);
    ::sockaddr_in addr{};
    addr.sin_family = PF_INET;
    addr.sin_port = name->sin_port;
    addr.sin_addr.s_addr = name->sin_addr.s_addr;
    if (!SetNonBlocking(s, true))
        return Fail(errno);
    if (::connect(s, reinterpret_cast<const ::sockaddr*>(&addr), sizeof addr) == 0)
        return 0;
    return Fail(errno);
}

int connect_result(SOCKET s) {
    if (s < 0)
        return Fail(EBADF);
    ::pollfd p{s, POLLOUT, 0};
    if (::poll(&p, 1, 0) == 0)
        return Fail(EINPROGRESS);
    int error = 0;
    socklen_t len = sizeof error;
    if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &len) != 0)
        error = errno;
    return error == 0 ? 0 : Fail(error);
}

} // namespace sock
