#include "fault/StuckServers.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace fault {

LocalListener::LocalListener(int backlog, int receiveBuffer) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    if (receiveBuffer > 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    ::sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(fd, reinterpret_cast<::sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(fd, backlog) != 0 ||
        ::getsockname(fd, reinterpret_cast<::sockaddr*>(&a), &len) != 0) {
        ::close(fd);
        return;
    }
    listenFd_ = fd;
    port_ = ntohs(a.sin_port);
}

LocalListener::~LocalListener() {
    if (listenFd_ >= 0)
        ::close(listenFd_);
}

StuckListener::StuckListener() : LocalListener(0, 0) {
    if (listenFd_ < 0)
        return;
    ::sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port_);
    port_ = 0; // until a connect hangs
    // Fill the accept queue: connect until one connect is left without an answer.
    for (int i = 0; i < 8; ++i) {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0)
            return;
        clients_.push_back(fd);
        if (::connect(fd, reinterpret_cast<::sockaddr*>(&a), sizeof a) == 0)
            continue;
        if (errno != EINPROGRESS)
            return;
        ::pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, 300) == 0) {
            port_ = ntohs(a.sin_port); // this one hangs: so will the next
            return;
        }
    }
}

StuckListener::~StuckListener() {
    for (int fd : clients_)
        ::close(fd);
}

SilentServer::~SilentServer() {
    if (clientFd_ >= 0)
        ::close(clientFd_);
}

bool SilentServer::Accept(std::chrono::milliseconds timeout) {
    ::pollfd p{listenFd_, POLLIN, 0};
    if (listenFd_ < 0 || ::poll(&p, 1, static_cast<int>(timeout.count())) <= 0)
        return false;
    clientFd_ = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    return clientFd_ >= 0;
}

std::string SilentServer::Read(std::chrono::milliseconds within) {
    std::string got;
    ::pollfd p{clientFd_, POLLIN, 0};
    if (clientFd_ < 0 || ::poll(&p, 1, static_cast<int>(within.count())) <= 0)
        return got;
    char buf[65536];
    for (;;) {
        ssize_t n = ::recv(clientFd_, buf, sizeof buf, MSG_DONTWAIT);
        if (n <= 0)
            return got;
        got.append(buf, static_cast<std::size_t>(n));
    }
}

void ShrinkSendBuffer(int fd) {
    int size = 1; // the system rounds it up to its minimum
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
}

} // namespace fault
