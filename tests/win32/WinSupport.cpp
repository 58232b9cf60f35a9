#include "WinSupport.h"

#include <cstdlib>
#include <fstream>
#include <thread>

#include <winsock2.h>
#include <ws2tcpip.h>

namespace win_support {
namespace {

const std::uintptr_t kNone = static_cast<std::uintptr_t>(INVALID_SOCKET);

void StartWinsock() {
    static const bool started = [] {
        WSADATA data{};
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    (void)started;
}

SOCKET S(std::uintptr_t s) {
    return static_cast<SOCKET>(s);
}

bool SendAll(std::uintptr_t s, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        int n = ::send(S(s), bytes.data() + done, static_cast<int>(bytes.size() - done), 0);
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::string ReceiveSome(std::uintptr_t s, std::size_t count, std::chrono::milliseconds within) {
    std::string got;
    auto deadline = std::chrono::steady_clock::now() + within;
    while (got.size() < count) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(S(s), &readable);
        timeval tv{static_cast<long>(left.count() / 1000),
                   static_cast<long>((left.count() % 1000) * 1000)};
        if (::select(0, &readable, nullptr, nullptr, &tv) <= 0)
            break;
        char buf[65536];
        int n = ::recv(S(s), buf, static_cast<int>(std::min(sizeof buf, count - got.size())), 0);
        if (n <= 0)
            break;
        got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
}

std::uintptr_t ConnectLoopback(std::uint16_t port) {
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
    return static_cast<std::uintptr_t>(s);
}

} // namespace

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds within) {
    auto deadline = std::chrono::steady_clock::now() + within;
    for (;;) {
        if (condition())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return condition();
        std::this_thread::sleep_for(5ms);
    }
}

LoopbackServer::LoopbackServer() : listener_(kNone), client_(kNone) {
    StartWinsock();
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof addr;
    if (s == INVALID_SOCKET || ::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(s, 4) != 0 || ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
        if (s != INVALID_SOCKET)
            ::closesocket(s);
        return;
    }
    listener_ = static_cast<std::uintptr_t>(s);
    port_ = ntohs(addr.sin_port);
}

LoopbackServer::~LoopbackServer() {
    CloseClient();
    if (listener_ != kNone)
        ::closesocket(S(listener_));
}

bool LoopbackServer::Accept(std::chrono::milliseconds within) {
    CloseClient();
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(S(listener_), &readable);
    timeval tv{static_cast<long>(within.count() / 1000),
               static_cast<long>((within.count() % 1000) * 1000)};
    if (listener_ == kNone || ::select(0, &readable, nullptr, nullptr, &tv) <= 0)
        return false;
    SOCKET c = ::accept(S(listener_), nullptr, nullptr);
    if (c == INVALID_SOCKET)
        return false;
    client_ = static_cast<std::uintptr_t>(c);
    return true;
}

bool LoopbackServer::Send(const std::string& bytes) {
    return client_ != kNone && SendAll(client_, bytes);
}

std::string LoopbackServer::Receive(std::size_t count, std::chrono::milliseconds within) {
    return client_ == kNone ? std::string() : ReceiveSome(client_, count, within);
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

std::string RelayDevice::PortName() {
    const char* name = std::getenv("VARNEL_RELAY_COM");
    return name ? name : "COM9";
}

RelayDevice::RelayDevice() : socket_(kNone) {
    StartWinsock();
    const char* portFile = std::getenv("VARNEL_RELAY_PORT_FILE");
    if (!portFile) {
        problem_ = "VARNEL_RELAY_PORT_FILE is not set: CTest starts the relay (PtyRelay.cpp)";
        return;
    }
    unsigned port = 0;
    // The relay writes the file once it listens; its start is a test of its own that ran before.
    WaitUntil([&] { return bool(std::ifstream(portFile) >> port); }, 5s);
    if (port == 0 || port > 65535) {
        problem_ = std::string("no relay port in ") + portFile;
        return;
    }
    socket_ = ConnectLoopback(static_cast<std::uint16_t>(port));
    if (socket_ == kNone) {
        problem_ = "the relay did not take the connection";
        return;
    }
    ok_ = ReceiveSome(socket_, 1, 5s) == "R";
    if (!ok_)
        problem_ = "the relay did not link a terminal as " + PortName();
}

RelayDevice::~RelayDevice() {
    if (socket_ != kNone)
        ::closesocket(S(socket_));
}

bool RelayDevice::Send(const std::string& bytes) {
    return socket_ != kNone && SendAll(socket_, bytes);
}

std::string RelayDevice::Receive(std::size_t count, std::chrono::milliseconds within) {
    return socket_ == kNone ? std::string() : ReceiveSome(socket_, count, within);
}

void RelayDevice::HangUp() {
    if (socket_ != kNone)
        ::shutdown(S(socket_), SD_SEND);
}

} // namespace win_support
