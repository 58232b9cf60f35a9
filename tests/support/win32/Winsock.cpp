#include "support/win32/Winsock.h"

#include <algorithm>

namespace testing_support::winsock {

void Start() {
    static const bool started = [] {
        WSADATA data{};
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    (void)started;
}

bool WaitReadable(std::intptr_t s, Clock::time_point deadline) {
    const auto left = std::max<long long>(
        0, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(S(s), &readable);
    timeval tv{static_cast<long>(left / 1000), static_cast<long>((left % 1000) * 1000)};
    return ::select(0, &readable, nullptr, nullptr, &tv) > 0;
}

bool SendAll(std::intptr_t s, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        int n = ::send(S(s), bytes.data() + done, static_cast<int>(bytes.size() - done), 0);
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::string ReceiveSome(std::intptr_t s, std::size_t count, Clock::time_point deadline) {
    std::string got;
    char buf[65536];
    while (got.size() < count && Clock::now() < deadline && WaitReadable(s, deadline)) {
        int n = ::recv(S(s), buf, static_cast<int>(std::min(sizeof buf, count - got.size())), 0);
        if (n <= 0)
            break;
        got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
}

std::intptr_t ConnectLoopback(std::uint16_t port) {
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (s != INVALID_SOCKET && ::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::closesocket(s);
        s = INVALID_SOCKET;
    }
    if (s != INVALID_SOCKET) {
        BOOL one = TRUE;
        ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    }
    return Kept(s);
}

} // namespace testing_support::winsock
