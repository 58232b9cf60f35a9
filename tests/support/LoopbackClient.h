// A client of a listener at 127.0.0.1 on loopback, for the tests of the client set and of the
// listening side: it connects from a loopback address of its choice, sends whole and reads what
// has come without waiting.
#pragma once

#include "app/network/Address.h"
#include "app/platform/Socket.h"
#include "support/SocketAddress.h"
#include "support/WaitUntil.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string>

namespace testing_support {

// Every 127/8 address can be a source on this machine.
class LoopbackClient {
public:
    explicit LoopbackClient(std::uint16_t port) : LoopbackClient("127.0.0.1", port) {}
    LoopbackClient(const char* source, std::uint16_t port) {
        EXPECT_EQ(sock::WSAStartup(), 0);
        s_ = sock::socket(sock::AF_INET, sock::SOCK_STREAM, 0);
        const sock::sockaddr_in local = SocketAddress(source, 0);
        const sock::sockaddr_in server = SocketAddress("127.0.0.1", port);
        std::uint32_t on = 1;
        EXPECT_EQ(sock::bind(s_, &local, sizeof local), 0) << source;
        EXPECT_EQ(sock::connect(s_, &server, sizeof server), 0) << source;
        EXPECT_EQ(sock::ioctlsocket(s_, sock::FIONBIO, &on), 0);
        sock::sockaddr_in me{};
        int length = sizeof me;
        EXPECT_EQ(sock::getsockname(s_, &me, &length), 0);
        name_ = EndpointText(AddressOf(me), PortOf(me));
    }
    ~LoopbackClient() { sock::closesocket(s_); }
    // Ends its sending side; it still reads.
    void HalfClose() { EXPECT_EQ(sock::shutdownsend(s_), 0); }
    LoopbackClient(const LoopbackClient&) = delete;
    LoopbackClient& operator=(const LoopbackClient&) = delete;

    // "a.b.c.d:port", as the set names it.
    const std::string& Name() const { return name_; }
    bool Send(const std::string& bytes) {
        std::size_t done = 0;
        return WaitUntil(
            [&] {
                const int n =
                    sock::send(s_, bytes.data() + done, static_cast<int>(bytes.size() - done), 0);
                done += n > 0 ? static_cast<std::size_t>(n) : 0;
                return done == bytes.size();
            },
            std::chrono::seconds(5));
    }
    // Takes what has arrived; false once the connection has ended.
    bool Read() {
        char buffer[65536];
        for (;;) {
            const int n = sock::recv(s_, buffer, sizeof buffer, 0);
            if (n > 0) {
                got.append(buffer, static_cast<std::size_t>(n));
                continue;
            }
            return n < 0 && sock::WSAGetLastError() == EWOULDBLOCK;
        }
    }
    bool Ended() { return !Read(); }
    void Close() {
        sock::closesocket(s_);
        s_ = sock::INVALID_SOCKET;
    }

    std::string got;

private:
    sock::SOCKET s_ = sock::INVALID_SOCKET;
    std::string name_;
};

} // namespace testing_support
