#include "support/LoopbackServer.h"

#include <arpa/inet.h>
#include <cerrno>
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

} // namespace

LoopbackServer::LoopbackServer(std::uint16_t port) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0)
        return;
    int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    ::sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    if (::bind(listenFd_, reinterpret_cast<::sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(listenFd_, 8) != 0) {
        ::close(listenFd_);
        listenFd_ = -1;
        return;
    }
    socklen_t len = sizeof a;
    ::getsockname(listenFd_, reinterpret_cast<::sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
}

LoopbackServer::~LoopbackServer() {
    CloseClient();
    StopListening();
}

bool LoopbackServer::Accept(std::chrono::milliseconds timeout) {
    if (listenFd_ < 0 || !WaitReadable(listenFd_, Clock::now() + timeout))
        return false;
    int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
        return false;
    CloseClient();
    clientFd_ = fd;
    ++accepted_;
    return true;
}

bool LoopbackServer::Send(const std::string& bytes) {
    std::size_t done = 0;
    while (clientFd_ >= 0 && done < bytes.size()) {
        ssize_t n = ::send(clientFd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return clientFd_ >= 0;
}

std::string LoopbackServer::Receive(std::size_t count, std::chrono::milliseconds timeout) {
    std::string got;
    auto deadline = Clock::now() + timeout;
    char buf[65536];
    while (clientFd_ >= 0 && got.size() < count && WaitReadable(clientFd_, deadline)) {
        ssize_t n = ::recv(clientFd_, buf,
                           sizeof buf < count - got.size() ? sizeof buf : count - got.size(), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
}

std::string LoopbackServer::Drain(std::chrono::milliseconds quiet) {
    std::string got;
    char buf[65536];
    while (clientFd_ >= 0 && WaitReadable(clientFd_, Clock::now() + quiet)) {
        ssize_t n = ::recv(clientFd_, buf, sizeof buf, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
}

bool LoopbackServer::WaitClientClosed(std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    char buf[4096];
    while (clientFd_ >= 0 && WaitReadable(clientFd_, deadline)) {
        ssize_t n = ::recv(clientFd_, buf, sizeof buf, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return true;
    }
    return false;
}

void LoopbackServer::CloseClient() {
    if (clientFd_ >= 0)
        ::close(clientFd_);
    clientFd_ = -1;
}

void LoopbackServer::ResetClient() {
    if (clientFd_ < 0)
        return;
    ::linger l{1, 0};
    ::setsockopt(clientFd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    CloseClient();
}

void LoopbackServer::StopListening() {
    if (listenFd_ >= 0)
        ::close(listenFd_);
    listenFd_ = -1;
}

void LoopbackServer::ShrinkClientReceiveBuffer() {
    int size = 4096;
    if (clientFd_ >= 0)
        ::setsockopt(clientFd_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
}

} // namespace testing_support
