// The far end of a COM port for the Windows tests under Wine, a Linux program (built with the
// host's compiler). It puts a pseudo-terminal into the Wine prefix as a COM port and relays the
// terminal's master over loopback TCP, so that a Windows test can play the device:
//
//   varnel-pty-relay start DIR PREFIX PORTNAME   runs in the background once it listens; writes
//                                                the TCP port to DIR/port and its id to DIR/pid
//   varnel-pty-relay stop DIR                    ends it
//
// Each TCP client gets a fresh pseudo-terminal, linked as $PREFIX/dosdevices/PORTNAME (com9,
// say), and one byte 'R' once the link is there. From then on, bytes from the client go to the
// master (the port receives them) and what the port sends comes back to the client. When the
// client closes its sending side, the terminal is hung up (the device goes away) and the link
// removed.
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnTerm(int) {
    g_stop = 1;
}

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 100);
            continue;
        }
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// One client: a fresh terminal under the port name until the client stops sending.
void Serve(int client, const std::string& link) {
    termios raw{};
    ::cfmakeraw(&raw);
    ::cfsetspeed(&raw, B115200);
    int master = -1, slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, &raw, nullptr) != 0)
        return;
    ::unlink(link.c_str());
    if (::symlink(name, link.c_str()) != 0 || !WriteAll(client, "R", 1)) {
        ::close(master);
        ::close(slave);
        return;
    }
    char buf[65536];
    bool clientOpen = true;
    while (!g_stop && clientOpen) {
        pollfd p[2] = {{client, POLLIN, 0}, {master, POLLIN, 0}};
        if (::poll(p, 2, 200) < 0 && errno != EINTR)
            break;
        if (p[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            ssize_t n = ::recv(client, buf, sizeof buf, 0);
            if (n <= 0)
                clientOpen = false;
            else if (!WriteAll(master, buf, static_cast<std::size_t>(n)))
                break;
        }
        if (p[1].revents & POLLIN) {
            ssize_t n = ::read(master, buf, sizeof buf);
            if (n > 0 && !WriteAll(client, buf, static_cast<std::size_t>(n)))
                break;
        }
    }
    // The device goes away: whoever holds the port sees a hang-up.
    ::unlink(link.c_str());
    ::close(master);
    ::close(slave);
}

int Start(const std::string& dir, const std::string& prefix, const std::string& portName) {
    int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listener, 4) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
        std::perror("varnel-pty-relay: listen");
        return 1;
    }
    ::mkdir(dir.c_str(), 0755);
    const std::string link = prefix + "/dosdevices/" + portName;
    std::fflush(nullptr);
    pid_t child = ::fork();
    if (child < 0)
        return 1;
    if (child > 0) {
        std::ofstream(dir + "/pid") << child << "\n";
        std::ofstream(dir + "/port.tmp") << ntohs(addr.sin_port) << "\n";
        return std::rename((dir + "/port.tmp").c_str(), (dir + "/port").c_str()) == 0 ? 0 : 1;
    }
    ::setsid();
    int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, 0);
    ::dup2(null, 1);
    ::dup2(null, 2);
    if (null > 2)
        ::close(null);
    ::signal(SIGTERM, OnTerm);
    ::signal(SIGPIPE, SIG_IGN);
    while (!g_stop) {
        pollfd p{listener, POLLIN, 0};
        if (::poll(&p, 1, 200) <= 0)
            continue;
        int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        int one = 1;
        ::setsockopt(client, IPPROTO_TCP, 1 /* TCP_NODELAY */, &one, sizeof one);
        Serve(client, link);
        ::close(client);
    }
    ::unlink(link.c_str());
    return 0;
}

int Stop(const std::string& dir) {
    std::ifstream in(dir + "/pid");
    long pid = 0;
    if (!(in >> pid) || pid <= 0)
        return 0;
    ::kill(static_cast<pid_t>(pid), SIGTERM);
    ::unlink((dir + "/pid").c_str());
    ::unlink((dir + "/port").c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "start") == 0)
        return Start(argv[2], argv[3], argv[4]);
    if (argc == 3 && std::strcmp(argv[1], "stop") == 0)
        return Stop(argv[2]);
    std::fprintf(stderr, "usage: varnel-pty-relay start DIR PREFIX PORTNAME | stop DIR\n");
    return 2;
}
