#include "support/DeadPeerOptions.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace testing_support {
namespace {

int Option(std::intptr_t socket, int level, int name) {
    int value = 0;
    socklen_t length = sizeof value;
    return ::getsockopt(static_cast<int>(socket), level, name, &value, &length) == 0 ? value : -1;
}

} // namespace

DeadPeerOptions DeadPeerOptionsOf(std::intptr_t socket) {
    const int userTimeoutMs = Option(socket, IPPROTO_TCP, TCP_USER_TIMEOUT);
    return {Option(socket, SOL_SOCKET, SO_KEEPALIVE) != 0 ? 1 : 0,
            Option(socket, IPPROTO_TCP, TCP_KEEPIDLE), Option(socket, IPPROTO_TCP, TCP_KEEPINTVL),
            Option(socket, IPPROTO_TCP, TCP_KEEPCNT),
            userTimeoutMs < 0 ? -1 : userTimeoutMs / 1000};
}

} // namespace testing_support
