#include "support/DeadPeerOptions.h"
#include "support/win32/Winsock.h"

namespace testing_support {
namespace {

// Option numbers that older headers lack.
constexpr int kKeepIdle = 3, kMaxRt = 5, kKeepCnt = 16, kKeepIntvl = 17;

int Option(std::intptr_t socket, int level, int name) {
    DWORD value = 0;
    int length = sizeof value;
    return ::getsockopt(winsock::S(socket), level, name, reinterpret_cast<char*>(&value),
                        &length) == 0
               ? static_cast<int>(value)
               : -1;
}

} // namespace

DeadPeerOptions DeadPeerOptionsOf(std::intptr_t socket) {
    const int keepAlive = Option(socket, SOL_SOCKET, SO_KEEPALIVE);
    return {keepAlive > 0 ? 1 : keepAlive, Option(socket, IPPROTO_TCP, kKeepIdle),
            Option(socket, IPPROTO_TCP, kKeepIntvl), Option(socket, IPPROTO_TCP, kKeepCnt),
            Option(socket, IPPROTO_TCP, kMaxRt)};
}

} // namespace testing_support
