// The socket layer on Winsock 2. The shared code reads errors as errno values (SendBacklog waits
// on EWOULDBLOCK, the reasons name ECONNREFUSED ...), so Winsock's codes are translated here.
// Our SOCKET is an int: Winsock's handles are small numbers in practice, and one that is not
// is closed again and reported as too many open files.
//
// Winsock has no way to ask whether a socket is non-blocking, so the layer keeps the sockets
// that ioctlsocket(FIONBIO) or connect_start made non-blocking in a set of its own; and, for
// acknowledged(), how many bytes each socket's send took.
#include "app/platform/Socket.h"

#include "app/platform/SocketState.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

namespace {

// Winsock's headers define these names as macros; take our values before they come in.
constexpr sock::SOCKET kInvalidSocket = sock::INVALID_SOCKET;

std::uint32_t AddressOf(const sock::sockaddr_in* name) {
    return name->sin_addr.s_addr;
}

} // namespace

#include <winsock2.h>
#include <ws2tcpip.h>
// After Winsock's own header, whose types it uses.
#include <mstcpip.h>

namespace {
// Winsock's macros name its own types, which our namespace hides: spell them out here.
const ::SOCKET kNoNativeSocket = INVALID_SOCKET;
} // namespace

namespace sock {
namespace {

// How long one send on a blocking socket may wait for room before it returns short.
constexpr int kSendStallMs = 500;

std::mutex g_socketsMutex;
std::unordered_set<SOCKET> g_nonBlocking;
// Bytes each socket's send took so far, for acknowledged().
std::unordered_map<SOCKET, unsigned long long> g_handed;

// Options that the headers of older systems lack: the longest wait for an acknowledgement
// (seconds), the number of keepalive probes, and the record of SIO_TCP_INFO's version 0.
constexpr int kTcpMaxRt = 5;
constexpr int kTcpKeepCnt = 16;
constexpr DWORD kSioTcpInfo = _WSAIORW(IOC_VENDOR, 39);
struct TcpInfoV0 {
    int state;
    ULONG mss;
    ULONG64 connectionTimeMs;
    BOOLEAN timestampsEnabled;
    ULONG rttUs;
    ULONG minRttUs;
    ULONG bytesInFlight;
    ULONG cwnd;
    ULONG sndWnd;
    ULONG rcvWnd;
    ULONG rcvBuf;
    ULONG64 bytesOut;
    ULONG64 bytesIn;
    ULONG bytesReordered;
    ULONG bytesRetrans;
    ULONG fastRetrans;
    ULONG dupAcksIn;
    ULONG timeoutEpisodes;
    UCHAR synRetrans;
};

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

// On a connection, Winsock tells a peer that keepalive found dead as a network reset: the path
// died, and the connection timed out, as the other platform says.
int ErrnoOfTransfer(int wsaError) {
    return wsaError == WSAENETRESET ? ETIMEDOUT : ErrnoOf(wsaError);
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
    std::lock_guard lock(g_socketsMutex);
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

::sockaddr_in NativeAddress(const sockaddr_in* name) {
    const std::uint32_t address = AddressOf(name);
    ::sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = name->sin_port;
    std::memcpy(&addr.sin_addr, &address, sizeof address);
    return addr;
}

SystemAddress Given(const ::sockaddr_in& addr) {
    std::uint32_t address = 0;
    std::memcpy(&address, &addr.sin_addr, sizeof address);
    return {addr.sin_port, address};
}

// The system's socket s in our numbering; kInvalidSocket, with the error recorded, for one that
// our int cannot hold (it is closed).
SOCKET Ours(::SOCKET s) {
    if (s > static_cast<::SOCKET>(INT_MAX)) {
        ::closesocket(s);
        Fail(EMFILE);
        return kInvalidSocket;
    }
    return static_cast<SOCKET>(s);
}

// The system's connect on s made non-blocking: 0, or Winsock's error (WSAEWOULDBLOCK while it
// goes on).
int StartConnect(SOCKET s, const sockaddr_in* name) {
    const ::sockaddr_in addr = NativeAddress(name);
    if (!SetNonBlocking(s, true))
        return ::WSAGetLastError();
    if (::connect(Native(s), reinterpret_cast<const ::sockaddr*>(&addr), sizeof addr) != 0)
        return ::WSAGetLastError();
    return 0;
}

// The error a finished connect left on s (0 when it succeeded), as Winsock's code.
int ConnectError(SOCKET s) {
    int error = 0;
    int length = sizeof error;
    if (::getsockopt(Native(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) !=
        0)
        error = ::WSAGetLastError();
    return error;
}

} // namespace

// Keepalive and the longest wait for an acknowledgement, so that a path that died silently ends
// the connection with ETIMEDOUT. Each one the system does not take is left out: older systems
// know no probe count, and Wine takes only some of them.
void FindDeadPeer(SOCKET ours) {
    const ::SOCKET s = Native(ours);
    BOOL on = TRUE;
    ::setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on), sizeof on);
    tcp_keepalive values{1, kKeepAliveIdleS * 1000u, kKeepAliveIntervalS * 1000u};
    DWORD returned = 0;
    ::WSAIoctl(s, SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned, nullptr,
               nullptr);
    DWORD probes = kKeepAliveProbes;
    ::setsockopt(s, IPPROTO_TCP, kTcpKeepCnt, reinterpret_cast<const char*>(&probes),
                 sizeof probes);
    DWORD maxRt = kUnacknowledgedLimitS;
    ::setsockopt(s, IPPROTO_TCP, kTcpMaxRt, reinterpret_cast<const char*>(&maxRt), sizeof maxRt);
}

int WSAStartup() {
    if (int code = g_startupFailure.load())
        return code;
    static const int started = [] {
        WSADATA data{};
        return ::WSAStartup(MAKEWORD(2, 2), &data);
    }();
    return started;
}

SOCKET OpenStream(int protocol) {
    ::SOCKET s = ::WSASocketW(AF_INET, SOCK_STREAM, protocol, nullptr, 0,
                              WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == kNoNativeSocket) {
        FailWsa();
        return kInvalidSocket;
    }
    return Ours(s);
}

int ConnectAndWait(SOCKET s, const sockaddr_in* name, int timeoutMs) {
    int error = StartConnect(s, name);
    if (error == WSAEWOULDBLOCK) {
        const int ready = WaitWritable(s, timeoutMs);
        if (ready < 0)
            error = ::WSAGetLastError();
        else if (ready == 0)
            error = WSAETIMEDOUT;
        else
            error = ConnectError(s);
    }
    SetNonBlocking(s, MarkedNonBlocking(s));
    return error == 0 ? 0 : ErrnoOf(error);
}

int ConnectWithoutWaiting(SOCKET s, const sockaddr_in* name) {
    const int error = StartConnect(s, name);
    {
        std::lock_guard lock(g_socketsMutex);
        g_nonBlocking.insert(s);
    }
    if (error == 0)
        return 0;
    return error == WSAEWOULDBLOCK ? EINPROGRESS : ErrnoOf(error);
}

int connect_result(SOCKET s) {
    if (s < 0)
        return Fail(EBADF);
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(Native(s), &writable);
    FD_SET(Native(s), &failed);
    timeval now{0, 0};
    if (::select(0, nullptr, &writable, &failed, &now) == SOCKET_ERROR)
        return FailWsa();
    // A failed connect is told in the exception set, with its error in SO_ERROR.
    if (FD_ISSET(Native(s), &failed)) {
        const int error = ConnectError(s);
        return Fail(error != 0 ? ErrnoOf(error) : ECONNREFUSED);
    }
    if (!FD_ISSET(Native(s), &writable))
        return Fail(EINPROGRESS);
    return 0;
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
    return n == SOCKET_ERROR ? Fail(ErrnoOfTransfer(::WSAGetLastError())) : n;
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
    if (done > 0) {
        std::lock_guard lock(g_socketsMutex);
        g_handed[s] += static_cast<unsigned long long>(done);
        return done;
    }
    return Fail(error != 0 ? ErrnoOfTransfer(error) : EWOULDBLOCK);
}

// What send took less what the system says is not acknowledged yet (see g_handed). Once the
// connection has failed the system may no longer tell: then -1, and nothing is sent again.
std::int64_t acknowledged(SOCKET s) {
    if (s < 0)
        return Fail(EBADF);
    DWORD version = 0;
    TcpInfoV0 info{};
    DWORD returned = 0;
    if (::WSAIoctl(Native(s), kSioTcpInfo, &version, sizeof version, &info, sizeof info, &returned,
                   nullptr, nullptr) != 0)
        return FailWsa();
    if (returned < sizeof info)
        return Fail(EOPNOTSUPP);
    unsigned long long handed = 0;
    {
        std::lock_guard lock(g_socketsMutex);
        auto it = g_handed.find(s);
        handed = it == g_handed.end() ? 0 : it->second;
    }
    // In flight: sent, not acknowledged. Waiting: taken by send, not sent yet.
    const unsigned long long waiting = handed > info.bytesOut ? handed - info.bytesOut : 0;
    const unsigned long long unacked = info.bytesInFlight + waiting;
    return unacked < handed ? static_cast<std::int64_t>(handed - unacked) : 0;
}

int closesocket(SOCKET s) {
    if (s < 0)
        return Fail(EBADF);
    {
        std::lock_guard lock(g_socketsMutex);
        g_nonBlocking.erase(s);
        g_handed.erase(s);
    }
    return ::closesocket(Native(s)) == 0 ? 0 : FailWsa();
}

int shutdownsend(SOCKET s) {
    if (s < 0)
        return Fail(EBADF);
    return ::shutdown(Native(s), SD_SEND) == 0 ? 0 : FailWsa();
}

int bind(SOCKET s, const sockaddr_in* name, int namelen) {
    if (int bad = BadAddress(s, name, namelen))
        return Fail(bad);
    // No other program may bind the same port beside ours and take its clients.
    BOOL on = TRUE;
    ::setsockopt(Native(s), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
                 sizeof on);
    const ::sockaddr_in addr = NativeAddress(name);
    if (::bind(Native(s), reinterpret_cast<const ::sockaddr*>(&addr), sizeof addr) != 0)
        return FailWsa();
    return 0;
}

int listen(SOCKET s, int backlog) {
    if (s < 0)
        return Fail(EBADF);
    return ::listen(Native(s), backlog) == 0 ? 0 : FailWsa();
}

SOCKET AcceptOne(SOCKET s, SystemAddress& from) {
    ::sockaddr_in peer{};
    int len = sizeof peer;
    const ::SOCKET accepted = ::accept(Native(s), reinterpret_cast<::sockaddr*>(&peer), &len);
    if (accepted == kNoNativeSocket) {
        FailWsa();
        return kInvalidSocket;
    }
    const SOCKET ours = Ours(accepted);
    if (ours == kInvalidSocket)
        return kInvalidSocket;
    // The new socket takes over the listener's event selection; it starts unwatched instead, and
    // non-blocking as the layer knows it.
    ::WSAEventSelect(accepted, nullptr, 0);
    SetNonBlocking(ours, true);
    {
        std::lock_guard lock(g_socketsMutex);
        g_nonBlocking.insert(ours);
    }
    from = Given(peer);
    return ours;
}

int SocketName(SOCKET s, bool peer, SystemAddress& name) {
    ::sockaddr_in addr{};
    int len = sizeof addr;
    const int rc = peer ? ::getpeername(Native(s), reinterpret_cast<::sockaddr*>(&addr), &len)
                        : ::getsockname(Native(s), reinterpret_cast<::sockaddr*>(&addr), &len);
    if (rc != 0)
        return ErrnoOf(::WSAGetLastError());
    name = Given(addr);
    return 0;
}

int SwitchNonBlocking(SOCKET s, bool on) {
    if (!SetNonBlocking(s, on))
        return ErrnoOf(::WSAGetLastError());
    std::lock_guard lock(g_socketsMutex);
    if (on)
        g_nonBlocking.insert(s);
    else
        g_nonBlocking.erase(s);
    return 0;
}

std::uint32_t SystemInetAddr(const char* cp) {
    return ::inet_addr(cp);
}

std::uint16_t htons(std::uint16_t hostshort) {
    return ::htons(hostshort);
}

std::uint16_t ntohs(std::uint16_t netshort) {
    return ::ntohs(netshort);
}

} // namespace sock
