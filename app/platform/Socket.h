// TCP sockets in the shape the bridge code was written against, on POSIX sockets: connections
// to a server, and listeners with the clients they accept.
//
// Differences that matter on this platform:
// - INVALID_SOCKET is -1: descriptor 0 is standard input here, so callers keep INVALID_SOCKET in
//   a socket variable after every close, and closesocket(INVALID_SOCKET) does nothing.
// - send() never raises SIGPIPE, whatever the peer did.
// - connect() gives up after ConnectTimeoutMs() instead of the system's two minutes.
// - Every socket finds a dead peer by itself: keepalive probes after 10 s of silence, 5 s apart,
//   3 of them, and (where the system takes it) at most 30 s for sent bytes to be acknowledged.
//   A dead path then ends in a receive or send error ETIMEDOUT.
// - Accepted sockets are like connected ones: they find a dead peer by themselves the same way,
//   and send() on them never raises SIGPIPE.
// - send() on a blocking socket waits at most half a second for room; on a socket made
//   non-blocking with ioctlsocket(FIONBIO) it never waits and fails with EWOULDBLOCK when the
//   send buffer has no room at all.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace sock {

using SOCKET = int;
inline constexpr SOCKET INVALID_SOCKET = -1;
inline constexpr int SOCKET_ERROR = -1;
inline constexpr int AF_INET = 2;
inline constexpr int SOCK_STREAM = 1;
inline constexpr std::uint32_t INADDR_NONE = 0xFFFFFFFFu;
inline constexpr long FIONBIO = 0x8004667E;

struct in_addr {
    std::uint32_t s_addr; // network byte order
};
struct sockaddr_in {
    std::int16_t sin_family;
    std::uint16_t sin_port; // network byte order
    in_addr sin_addr;
    char sin_zero[8];
};

// Start-up of the socket library: 0 on success, an error code otherwise. On POSIX it makes sure
// that no send can ever end the process with SIGPIPE.
int WSAStartup();

SOCKET socket(int af, int type, int protocol);
// Blocking connect that gives up after ConnectTimeoutMs(); 0 on success, SOCKET_ERROR otherwise.
int connect(SOCKET s, const sockaddr_in* name, int namelen);
// Starts a connect without waiting: 0 when it completed at once; SOCKET_ERROR with
// WSAGetLastError() == EINPROGRESS while it goes on (watch s for writability, then ask
// connect_result); SOCKET_ERROR with another error when it failed at once. It refuses what
// connect() refuses (0.0.0.0, port 0). The socket stays non-blocking afterwards.
int connect_start(SOCKET s, const sockaddr_in* name, int namelen);
// The outcome of a connect_start: 0 connected; SOCKET_ERROR with EINPROGRESS while it still
// goes on; SOCKET_ERROR with the error (ECONNREFUSED, ETIMEDOUT, EHOSTUNREACH ...) when it failed.
int connect_result(SOCKET s);
// The bytes of the stream sent on s that the peer has acknowledged since the connect, also once
// the connection has failed (Linux: the kernel's own count; Windows: what send took less what
// SIO_TCP_INFO says is not acknowledged, while the socket is still there); -1 when the system
// cannot tell.
std::int64_t acknowledged(SOCKET s);
// Waits at most sec seconds plus usec microseconds for s to become readable: 1 readable (data,
// end of stream or error pending), 0 not readable, SOCKET_ERROR on an invalid socket.
int select(SOCKET s, long sec, long usec);
int recv(SOCKET s, char* buf, int len, int flags);
int send(SOCKET s, const char* buf, int len, int flags);
int closesocket(SOCKET s);
// Ends the sending side of s (the peer reads the end of the stream); s still receives.
int shutdownsend(SOCKET s);

// Gives s the local address name (port 0: one the system picks); 0 or SOCKET_ERROR
// (EADDRINUSE, EADDRNOTAVAIL, EACCES ...). A listener bound here may take its port again at once
// after an earlier one closed (POSIX: SO_REUSEADDR), but never shares it with another listener
// (Windows: SO_EXCLUSIVEADDRUSE).
int bind(SOCKET s, const sockaddr_in* name, int namelen);
// Makes the bound s a listener with at most about backlog clients waiting to be accepted; 0 or
// SOCKET_ERROR.
int listen(SOCKET s, int backlog);
// The next client waiting on the listener s, or INVALID_SOCKET. A listener made non-blocking
// with ioctlsocket(FIONBIO) never waits: with nobody waiting the error is EWOULDBLOCK, so that
// accept can be asked whenever a watch finds s readable. addr, when given, receives the
// client's address and *addrlen its size. The new socket is non-blocking, is watched by nobody
// yet, and finds a dead peer as a connected one does.
SOCKET accept(SOCKET s, sockaddr_in* addr, int* addrlen);
// The address of the peer of the connected s / the local address s is bound to; 0 or
// SOCKET_ERROR.
int getpeername(SOCKET s, sockaddr_in* name, int* namelen);
int getsockname(SOCKET s, sockaddr_in* name, int* namelen);
// FIONBIO with *argp non-zero makes s non-blocking, zero blocking again; 0 or SOCKET_ERROR.
int ioctlsocket(SOCKET s, long cmd, std::uint32_t* argp);
std::uint32_t inet_addr(const char* cp);
std::uint16_t htons(std::uint16_t hostshort);
std::uint16_t ntohs(std::uint16_t netshort);

// The error of the calling thread's last failed call, as errno.
int WSAGetLastError();

int ConnectTimeoutMs();

} // namespace sock
