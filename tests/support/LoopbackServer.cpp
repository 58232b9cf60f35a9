#include "support/LoopbackServer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdint>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testing_support {
namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

bool WaitReadable(int fd, Clock::time_point deadline) {
    ::pollfd p{fd, POLLIN, 0};
    for (;;) {
        int n = ::poll(&p, 1, MsLeft(deadline));
        if (n < 0 && errno == EINTR)
            continue;
        return n > 0;
    }
}

// Reads until `count` bytes came, the peer closed or nothing came by the deadline that `until`
// gives before each wait.
template <class Deadline> std::string ReadWhile(int fd, std::size_t count, Deadline until) {
    std::string got;
    char buf[65536];
    while (fd >= 0 && got.size() < count && WaitReadable(fd, until())) {
        ssize_t n = ::recv(fd, buf, std::min(sizeof buf, count - got.size()), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
}

} // namespace

LoopbackServer::LoopbackServer(std::uint16_t port) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0)
        return;
    int one = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    ::sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    if (::bind(listener_, reinterpret_cast<::sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(listener_, 8) != 0) {
        ::close(listener_);
        listener_ = -1;
        return;
    }
    socklen_t len = sizeof a;
    ::getsockname(listener_, reinterpret_cast<::sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
}

LoopbackServer::~LoopbackServer() {
    CloseClient();
    StopListening();
}

bool LoopbackServer::Accept(std::chrono::milliseconds timeout) {
    if (listener_ < 0 || !WaitReadable(listener_, Clock::now() + timeout))
        return false;
    int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
        return false;
    CloseClient();
    client_ = fd;
    ++accepted_;
    return true;
}

bool LoopbackServer::Send(const std::string& bytes) {
    std::size_t done = 0;
    while (client_ >= 0 && done < bytes.size()) {
        ssize_t n = ::send(client_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return client_ >= 0;
}

std::string LoopbackServer::Receive(std::size_t count, std::chrono::milliseconds timeout) {
    return ReadWhile(client_, count, [deadline = Clock::now() + timeout] { return deadline; });
}

std::string LoopbackServer::Drain(std::chrono::milliseconds quiet) {
    return ReadWhile(client_, SIZE_MAX, [quiet] { return Clock::now() + quiet; });
}

bool LoopbackServer::WaitClientClosed(std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    char buf[4096];
    while (client_ >= 0 && WaitReadable(client_, deadline)) {
        ssize_t n = ::recv(client_, buf, sizeof buf, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return true;
    }
    return false;
}

void LoopbackServer::CloseClient() {
    if (client_ >= 0)
        ::close(client_);
    client_ = -1;
}

void LoopbackServer::ResetClient() {
    if (client_ < 0)
        return;
    ::linger l{1, 0};
    ::setsockopt(client_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    CloseClient();
}

void LoopbackServer::StopListening() {
    if (listener_ >= 0)
        ::close(listener_);
    listener_ = -1;
}

void LoopbackServer::ShrinkClientReceiveBuffer() {
    int size = 4096;
    if (client_ >= 0)
        ::setsockopt(client_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
}

} // namespace testing_support
