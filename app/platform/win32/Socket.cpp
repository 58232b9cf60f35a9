// The socket layer on Winsock 2. The shared code reads errors as errno values (SendBacklog waits
// on EWOULDBLOCK, the reasons name ECONNREFUSED ...), so Winsock's codes are translated here.
// Our SOCKET is an int: Winsock's handles are small numbers in practice, and one that is not
// is closed again and reported as too many open files.
//
// Winsock has no way to ask whether a socket is non-blocking, so the layer keeps the sockets
// that ioctlsocket(FIONBIO) made non-blocking in a set of its own.
#include "app/platform/Socket.h"

#include "app/platform/SocketState.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <mutex>
#include <unordered_set>

namespace {

// Winsock's headers define these names as macros; take our values before they come in.
constexpr sock::SOCKET kInvalidSocket = sock::INVALID_SOCKET;
constexpr int kAfInet = sock::AF_INET;
constexpr int kSockStream = sock::SOCK_STREAM;
constexpr long kFionbio = sock::FIONBIO;
constexpr std::uint32_t kInaddrNone = sock::INADDR_NONE;

std::uint32_t AddressOf(const sock::sockaddr_in* name) {
    return name->sin_addr.s_addr;
}

} // namespace

#include <winsock2.h>
#include <ws2tcpip.h>

namespace {
// Winsock's macros name its own types, which our namespace hides: spell them out here.
const ::SOCKET kNoNativeSocket = INVALID_SOCKET;
} // namespace

namespace sock {
namespace {

// How long one send on a blocking socket may wait for room before it returns short.
constexpr int kSendStallMs = 500;

std::mutex g_nonBlockingMutex;
std::unordered_set<SOCKET> g_nonBlocking;

int ErrnoOf(int wsaError) {
    switch (wsaError) {
    case WSAEWOULDBLOCK:
        return EWOULDBLOCK;
    case WSAEINPROGRESS:
        return EINPROGRESS;
    case WSAECONNREFUSED:
        return ECONNREFUSED;
    case WSAECONNRESET:
        return ECONNRESET;
    case WSAECONNABORTED:
        return ECONNABORTED;
    case WSAETIMEDOUT:
        return ETIMEDOUT;
    case WSAEHOSTUNREACH:
    case WSAEHOSTDOWN:
        return EHOSTUNREACH;
    case WSAENETUNREACH:
        return ENETUNREACH;
    case WSAENETDOWN:
        return ENETDOWN;
    case WSAENETRESET:
        return ENETRESET;
    case WSAEADDRNOTAVAIL:
        return EADDRNOTAVAIL;
    case WSAEADDRINUSE:
        return EADDRINUSE;
    case WSAEAFNOSUPPORT:
        return EAFNOSUPPORT;
    case WSAENOTCONN:
        return ENOTCONN;
    case WSAESHUTDOWN:
        return EPIPE;
    case WSAENOTSOCK:
        return EBADF;
    case WSAEACCES:
        return EACCES;
    case WSAEINVAL:
        return EINVAL;
    case WSAEFAULT:
        return EFAULT;
    case WSAEMFILE:
        return EMFILE;
    case WSAENOBUFS:
        return ENOBUFS;
    case WSAEINTR:
        return EINTR;
    default:
        return wsaError; // Winsock's own number (10000 and above) where errno has no match
    }
}

int FailWsa() {
    return Fail(ErrnoOf(::WSAGetLastError()));
}

::SOCKET Native(SOCKET s) {
    return static_cast<::SOCKET>(s);
}

bool SetNonBlocking(SOCKET s, bool on) {
    u_long mode = on ? 1 : 0;
    return ::ioctlsocket(Native(s), FIONBIO, &mode) == 0;
}

bool MarkedNonBlocking(SOCKET s) {
    std::lock_guard lock(g_nonBlockingMutex);
    return g_nonBlocking.count(s) != 0;
}

using Clock = std::chrono::steady_clock;

long MsLeft(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<long>(left.count()) : 0;
}

timeval Timeval(long ms) {
    return timeval{ms / 1000, (ms % 1000) * 1000};
}

// 1 when s can be written within ms, 0 when not, -1 on error.
int WaitWritable(SOCKET s, long ms) {
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(Native(s), &writable);
    FD_SET(Native(s), &failed);
    timeval tv = Timeval(ms);
    int n = ::select(0, nullptr, &writable, &failed, &tv);
    if (n == SOCKET_ERROR)
        return -1;
    return n > 0 ? 1 : 0;
}

} // namespace

int WSAStartup() {
    if (int code = g_startupFailure.load())
        return code;
    static const int started = [] {
        WSADATA data{};
        return ::WSAStartup(MAKEWORD(2, 2), &data);
    }();
    return started;
}

SOCKET socket(int af, int type, int protocol) {
    if (af != kAfInet || type != kSockStream) {
        Fail(EAFNOSUPPORT);
        return kInvalidSocket;
    }
    ::SOCKET s = ::WSASocketW(AF_INET, SOCK_STREAM, protocol, nullptr, 0,
                              WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == kNoNativeSocket) {
        FailWsa();
        return kInvalidSocket;
    }
    if (s > static_cast<::SOCKET>(INT_MAX)) {
        ::closesocket(s);
        Fail(EMFILE);
        return kInvalidSocket;
    }
    return static_cast<SOCKET>(s);
}

int connect(SOCKET s, const sockaddr_in* name, int namelen) {
    if (s < 0)
        return Fail(EBADF);
    if (!name || namelen < static_cast<int>(sizeof(sockaddr_in)) || name->sin_family != kAfInet)
        return Fail(EINVAL);
    // The unspecified address and port 0 name no server.
    const std::uint32_t address = AddressOf(name);
    if (address == 0 || name->sin_port == 0)
        return Fail(EADDRNOTAVAIL);

    ::sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = name->sin_port;
    std::memcpy(&addr.sin_addr, &address, sizeof address);

    if (!SetNonBlocking(s, true))
        return FailWsa();
    int error = 0;
    if (::connect(Native(s), reinterpret_cast<const ::sockaddr*>(&addr), sizeof addr) != 0) {
        error = ::WSAGetLastError();
        if (error == WSAEWOULDBLOCK) {
            const int ready = WaitWritable(s, g_connectTimeoutMs.load());
            if (ready < 0) {
                error = ::WSAGetLastError();
            } else if (ready == 0) {
                error = WSAETIMEDOUT;
            } else {
                int soError = 0;
                int length = sizeof soError;
                if (::getsockopt(Native(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError),
                                 &length) != 0)
                    soError = ::WSAGetLastError();
                error = soError;
            }
        }
    }
    SetNonBlocking(s, MarkedNonBlocking(s));
    return error == 0 ? 0 : Fail(ErrnoOf(error));
}

int select(SOCKET s, long sec, long usec) {
    if (s < 0)
        return Fail(EBADF);
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(Native(s), &readable);
    timeval tv{sec + usec / 1000000, usec % 1000000};
    int n = ::select(0, &readable, nullptr, nullptr, &tv);
    if (n == SOCKET_ERROR)
        return FailWsa();
    return n > 0 ? 1 : 0;
}

int recv(SOCKET s, char* buf, int len, int flags) {
    if (s < 0)
        return Fail(EBADF);
    int n = ::recv(Native(s), buf, len > 0 ? len : 0, flags);
    return n == SOCKET_ERROR ? FailWsa() : n;
}

int send(SOCKET s, const char* buf, int len, int flags) {
    if (s < 0)
        return Fail(EBADF);
    if (len <= 0)
        return 0;
    const bool nonBlocking = MarkedNonBlocking(s);
    // A blocking socket is made non-blocking for the send, so that it can give up on a peer that
    // stopped reading; it is blocking again afterwards.
    if (!nonBlocking && !SetNonBlocking(s, true))
        return FailWsa();
    auto deadline = Clock::now() + std::chrono::milliseconds(kSendStallMs);
    int done = 0;
    int error = 0;
    while (done < len) {
        int n = ::send(Native(s), buf + done, len - done, flags);
        if (n > 0) {
            done += n;
            continue;
        }
        error = n == SOCKET_ERROR ? ::WSAGetLastError() : 0;
        if (error != WSAEWOULDBLOCK && error != 0)
            break;
        error = 0;
        if (nonBlocking)
            break; // a non-blocking socket takes what it has room for and no more
        long left = MsLeft(deadline);
        if (left == 0 || WaitWritable(s, left) <= 0)
            break; // the peer stopped reading: return what went out
    }
    if (!nonBlocking)
        SetNonBlocking(s, false);
    if (done > 0)
        return done;
    return Fail(error != 0 ? ErrnoOf(error) : EWOULDBLOCK);
}

int closesocket(SOCKET s) {
    if (s < 0)
        return Fail(EBADF);
    {
        std::lock_guard lock(g_nonBlockingMutex);
        g_nonBlocking.erase(s);
    }
    return ::closesocket(Native(s)) == 0 ? 0 : FailWsa();
}

int ioctlsocket(SOCKET s, long cmd, std::uint32_t* argp) {
    if (s < 0)
        return Fail(EBADF);
    if (cmd != kFionbio || !argp)
        return Fail(EINVAL);
    if (!SetNonBlocking(s, *argp != 0))
        return FailWsa();
    std::lock_guard lock(g_nonBlockingMutex);
    if (*argp != 0)
        g_nonBlocking.insert(s);
    else
        g_nonBlocking.erase(s);
    return 0;
}

std::uint32_t inet_addr(const char* cp) {
    if (!cp)
        return kInaddrNone;
    return ::inet_addr(cp);
}

std::uint16_t htons(std::uint16_t hostshort) {
    return ::htons(hostshort);
}

int connect_start(SOCKET s, const sockaddr_in* name, int namelen) {
    if (s < 0)
        return Fail(EBADF);
    if (!name || namelen < static_cast<int>(sizeof(sockaddr_in)) || name->sin_family != kAfInet)
        return Fail(EINVAL);
    const std::uint32_t address = AddressOf(name);
    if (address == 0 || name->sin_port == 0)
        return Fail(EADDRNOTAVAIL);
    ::sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = name->sin_port;
    std::memcpy(&addr.sin_addr, &address, sizeof address);
    if (!SetNonBlocking(s, true))
        return FailWsa();
    {
        std::lock_guard lock(g_nonBlockingMutex);
        g_nonBlocking.insert(s);
    }
    if (::connect(Native(s), reinterpret_cast<const ::sockaddr*>(&addr), sizeof addr) == 0)
        return 0;
    const int error = ::WSAGetLastError();
    return Fail(error == WSAEWOULDBLOCK ? EINPROGRESS : ErrnoOf(error));
}

int connect_result(SOCKET s) {
    if (s < 0)
        return Fail(EBADF);
    const int ready = WaitWritable(s, 0);
    if (ready < 0)
        return FailWsa();
    int soError = 0;
    int length = sizeof soError;
    if (::getsockopt(Native(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &length) !=
        0)
        return FailWsa();
    if (soError != 0)
        return Fail(ErrnoOf(soError));
    return ready == 0 ? Fail(EINPROGRESS) : 0;
}

std::int64_t acknowledged(SOCKET) {
    return -1; // not asked of the system yet
}

} // namespace sock
