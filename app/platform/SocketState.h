// What both socket backends (posix/, win32/) keep alike: the calling thread's last error, and the
// settings that the test seams (TestSeams.h) change and the program leaves as they are. Plain
// types only, so that a backend can include it next to its system's headers.
#pragma once

#include <atomic>
#include <cstdint>

namespace sock {

// How every socket finds a dead peer: keepalive probes after this much silence, this far apart,
// this many of them; and the longest that sent bytes may wait for their acknowledgement.
inline constexpr int kKeepAliveIdleS = 10;
inline constexpr int kKeepAliveIntervalS = 5;
inline constexpr int kKeepAliveProbes = 3;
inline constexpr int kUnacknowledgedLimitS = 30;

struct sockaddr_in;

// Whether s and name are arguments the system can take: 0, else EBADF or EINVAL.
int BadAddress(int s, const sockaddr_in* name, int namelen);
// Why a connect to name must not even start: EBADF, EINVAL, or EADDRNOTAVAIL for the unspecified
// address and port 0, which name no server (elsewhere 0.0.0.0 would mean this host); 0 when it
// may.
int RefusedTarget(int s, const sockaddr_in* name, int namelen);

// An address as the system gives it: port and address in network byte order.
struct SystemAddress {
    std::uint16_t port = 0;
    std::uint32_t address = 0;
};

// Sets every socket (made or accepted) up to find a dead peer as the constants above say, as far
// as the system takes it.
void FindDeadPeer(int s);
// The backend's part of socket: a TCP socket of the system's, or -1 with the error recorded.
int OpenStream(int protocol);
// The backend's part of connect, for a target that may be connected to: waits at most timeoutMs
// for the connection and leaves the socket blocking or not as it was; 0, or the errno value of
// the failure (ETIMEDOUT when the time ran out).
int ConnectAndWait(int s, const sockaddr_in* name, int timeoutMs);
// The backend's part of connect_start, for a target that may be connected to: the socket is left
// non-blocking; 0, EINPROGRESS while the connection goes on, or the errno value of the failure.
int ConnectWithoutWaiting(int s, const sockaddr_in* name);

// The backend's part of ioctlsocket(FIONBIO), for a socket s >= 0: 0, or the errno value of the
// failure.
int SwitchNonBlocking(int s, bool on);
// The system's inet_addr, for a text that is there.
std::uint32_t SystemInetAddr(const char* cp);

// The backend's part of accept, for a socket s >= 0: the client, its address in `from`; or -1 with
// the error recorded.
int AcceptOne(int s, SystemAddress& from);
// The backend's part of getpeername (peer) and getsockname, for a socket s >= 0: 0, the address in
// `name`; or the errno value of the failure.
int SocketName(int s, bool peer, SystemAddress& name);

// Records error (an errno value) as the calling thread's last error; returns SOCKET_ERROR.
int Fail(int error);

// While not 0, WSAStartup fails with this code.
extern std::atomic<int> g_startupFailure;
// How long a connect waits before it gives up, in milliseconds.
extern std::atomic<int> g_connectTimeoutMs;

} // namespace sock
