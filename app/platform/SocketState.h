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

// Hands an address the system gave (port and address in network byte order) to the caller's
// record: true, or false when that has no room for it. No record asked for is fine.
bool GiveAddress(std::uint16_t port, std::uint32_t address, sockaddr_in* name, int* namelen);

// The backend's part of accept, for a socket s >= 0 and a record with room for the address.
int AcceptOne(int s, sockaddr_in* addr, int* addrlen);
// The backend's part of getpeername (peer) and getsockname, for a socket s >= 0.
int SocketName(int s, bool peer, sockaddr_in* name, int* namelen);

// Records error (an errno value) as the calling thread's last error; returns SOCKET_ERROR.
int Fail(int error);

// While not 0, WSAStartup fails with this code.
extern std::atomic<int> g_startupFailure;
// How long a connect waits before it gives up, in milliseconds.
extern std::atomic<int> g_connectTimeoutMs;

} // namespace sock
