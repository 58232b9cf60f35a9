// An IPv4 address and port in the record of the bridge's socket layer (app/platform/Socket.h),
// for the tests that connect through it.
#pragma once

#include "app/platform/Socket.h"

#include <cstdint>

namespace testing_support {

inline sock::sockaddr_in SocketAddress(const char* ip, std::uint16_t port) {
    sock::sockaddr_in a{};
    a.sin_family = sock::AF_INET;
    a.sin_port = sock::htons(port);
    a.sin_addr.s_addr = sock::inet_addr(ip);
    return a;
}

} // namespace testing_support
