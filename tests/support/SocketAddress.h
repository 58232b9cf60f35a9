// An IPv4 address and port in the record of the bridge's socket layer (app/platform/Socket.h),
// for the tests that connect through it, and the outcome of a connect that does not wait.
#pragma once

#include "app/platform/Socket.h"
#include "support/WaitUntil.h"

#include <cerrno>
#include <chrono>
#include <cstdint>

namespace testing_support {

inline sock::sockaddr_in SocketAddress(const char* ip, std::uint16_t port) {
    sock::sockaddr_in a{};
    a.sin_family = sock::AF_INET;
    a.sin_port = sock::htons(port);
    a.sin_addr.s_addr = sock::inet_addr(ip);
    return a;
}

// Starts a connect with connect_start and asks connect_result until it is decided (at most
// `within`): 0 connected, else the error (EINPROGRESS when still undecided).
inline int ConnectOutcome(sock::SOCKET s, const char* ip, std::uint16_t port,
                          std::chrono::milliseconds within = std::chrono::seconds(5)) {
    const sock::sockaddr_in a = SocketAddress(ip, port);
    if (sock::connect_start(s, &a, sizeof a) == 0)
        return 0;
    int error = sock::WSAGetLastError();
    WaitUntil(
        [&] {
            if (error != EINPROGRESS)
                return true;
            error = sock::connect_result(s) == 0 ? 0 : sock::WSAGetLastError();
            return error != EINPROGRESS;
        },
        within);
    return error;
}

} // namespace testing_support
