#include "tools/demo/Peer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace demo {

namespace {

constexpr auto kFirstFrame = std::chrono::seconds(1);
constexpr auto kFramePeriod = std::chrono::seconds(3);

std::string Address(const sockaddr_in& addr) {
    char ip[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &addr.sin_addr, ip, sizeof ip);
    return std::string(ip) + ":" + std::to_string(ntohs(addr.sin_port));
}

} // namespace

bool Peer::Listen(std::uint16_t port) {
    m_listen.Reset(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!m_listen.Open()) {
        std::fprintf(stderr, "varnel-demo: cannot make a socket: %s\n", std::strerror(errno));
        return false;
    }
    // Lets a rig started right after another reuse the port; a port that some program is
    // still listening on stays taken.
    int on = 1;
    setsockopt(m_listen.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    if (bind(m_listen.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(m_listen.Get(), 4) != 0) {
        int err = errno;
        std::fprintf(stderr, "varnel-demo: cannot listen on 127.0.0.1:%u: %s\n", port,
                     std::strerror(err));
        if (err == EADDRINUSE) {
            std::fprintf(stderr,
                         "varnel-demo: another program uses port %u; stop it or pick another "
                         "port with --port N\n",
                         port);
        }
        return false;
    }
    return true;
}

void Peer::OnAccept() {
    sockaddr_in from{};
    socklen_t len = sizeof from;
    int fd = accept4(m_listen.Get(), reinterpret_cast<sockaddr*>(&from), &len,
                     SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
        return;
    }
    if (m_client.Open()) {
        Drop("replaced by a new connection");
    }
    m_client.Reset(fd);
    m_due = Clock::now() + kFirstFrame;
    Say("peer", "connected: " + Address(from));
}

void Peer::OnReadable() {
    char buf[65536];
    ssize_t n = recv(m_client.Get(), buf, sizeof buf, 0);
    if (n == 0) {
        Drop("closed by the other end");
        return;
    }
    if (n < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            Drop(std::strerror(errno));
        }
        return;
    }
    Say("peer", "<- Varnel " + ShowBlock(std::string_view(buf, static_cast<std::size_t>(n))));
    std::string ack = "ACK " + std::to_string(n) + " bytes\r\n";
    Send(ack.data(), ack.size());
}

void Peer::OnTime(Clock::time_point now) {
    if (!m_client.Open() || now < m_due) {
        return;
    }
    m_due = now + kFramePeriod;
    char frame[32];
    int len = std::snprintf(frame, sizeof frame, "PING %04u\r\n", ++m_frames);
    Send(frame, static_cast<std::size_t>(len));
}

Clock::time_point Peer::NextDue() const {
    return m_client.Open() ? m_due : Clock::time_point::max();
}

void Peer::Send(const char* data, std::size_t size) {
    ssize_t n = send(m_client.Get(), data, size, MSG_NOSIGNAL);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        Say("peer", "-> Varnel nothing sent: Varnel is not reading the connection");
    } else if (n < 0) {
        Drop(std::strerror(errno));
    } else {
        Say("peer", "-> Varnel " + ShowBlock(std::string_view(data, static_cast<std::size_t>(n))));
    }
}

void Peer::Drop(const char* why) {
    Say("peer", std::string("connection gone: ") + why);
    m_client.Reset();
}

} // namespace demo
