#include "support/LoopbackServer.h"

#include "support/win32/Winsock.h"

namespace testing_support {

using namespace winsock;

LoopbackServer::LoopbackServer(std::uint16_t port) {
    Start();
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    int length = sizeof addr;
    if (s == INVALID_SOCKET || ::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(s, 4) != 0 || ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
        if (s != INVALID_SOCKET)
            ::closesocket(s);
        return;
    }
    listener_ = Kept(s);
    port_ = ntohs(addr.sin_port);
}

LoopbackServer::~LoopbackServer() {
    CloseClient();
    StopListening();
}

bool LoopbackServer::Accept(std::chrono::milliseconds timeout) {
    CloseClient();
    if (listener_ == kNone || !WaitReadable(listener_, Clock::now() + timeout))
        return false;
    client_ = Kept(::accept(S(listener_), nullptr, nullptr));
    if (client_ == kNone)
        return false;
    ++accepted_;
    return true;
}

bool LoopbackServer::Send(const std::string& bytes) {
    return client_ != kNone && SendAll(client_, bytes);
}

std::string LoopbackServer::Receive(std::size_t count, std::chrono::milliseconds timeout) {
    return client_ == kNone ? std::string() : ReceiveSome(client_, count, Clock::now() + timeout);
}

std::string LoopbackServer::Drain(std::chrono::milliseconds quiet) {
    std::string got;
    for (;;) {
        std::string more =
            client_ == kNone ? std::string() : ReceiveSome(client_, 65536, Clock::now() + quiet);
        if (more.empty())
            return got;
        got += more;
    }
}

bool LoopbackServer::WaitClientClosed(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    char buf[4096];
    while (client_ != kNone && WaitReadable(client_, deadline)) {
        if (::recv(S(client_), buf, sizeof buf, 0) <= 0)
            return true;
    }
    return false;
}

void LoopbackServer::CloseClient() {
    if (client_ != kNone)
        ::closesocket(S(client_));
    client_ = kNone;
}

void LoopbackServer::ResetClient() {
    if (client_ == kNone)
        return;
    linger hard{1, 0};
    ::setsockopt(S(client_), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard),
                 sizeof hard);
    CloseClient();
}

void LoopbackServer::StopListening() {
    if (listener_ != kNone)
        ::closesocket(S(listener_));
    listener_ = kNone;
}

void LoopbackServer::ShrinkClientReceiveBuffer() {
    int size = 4096;
    if (client_ != kNone)
        ::setsockopt(S(client_), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&size),
                     sizeof size);
}

} // namespace testing_support
