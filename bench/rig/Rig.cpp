#include "bench/rig/Rig.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <ftw.h>
#include <initializer_list>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pty.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace rig {
namespace {

// Closes the two descriptors that are open and marks both closed.
void CloseBoth(int& first, int& second) {
    for (int* fd : {&first, &second}) {
        if (*fd >= 0)
            close(*fd);
        *fd = -1;
    }
}

bool SetNonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

int Remaining(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

} // namespace

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

bool Gone(Contender& contender, Clock::time_point now, Clock::time_point& lastCheck) {
    if (Seconds(now - lastCheck) <= 0.2)
        return false;
    lastCheck = now;
    return !contender.Alive();
}

bool Pty::Open(std::string& error) {
    char name[256] = {};
    termios raw{};
    cfmakeraw(&raw);
    cfsetispeed(&raw, B115200);
    cfsetospeed(&raw, B115200);
    if (openpty(&master, &slave, name, &raw, nullptr) != 0) {
        error = std::string("openpty: ") + std::strerror(errno);
        return false;
    }
    path = name;
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    if (!SetNonBlocking(master)) {
        error = std::string("pty master: ") + std::strerror(errno);
        return false;
    }
    return true;
}

void Pty::Close() {
    CloseBoth(master, slave);
}

bool Server::Listen(std::string& error, std::uint16_t fixedPort) {
    listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    const int one = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(fixedPort);
    socklen_t len = sizeof addr;
    if (bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(listener, 4) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        error = std::string("listen on 127.0.0.1: ") + std::strerror(errno);
        return false;
    }
    port = ntohs(addr.sin_port);
    return true;
}

bool Server::Accept(Clock::time_point deadline) {
    pollfd p{listener, POLLIN, 0};
    while (true) {
        const int r = poll(&p, 1, Remaining(deadline));
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r <= 0) {
            return false;
        }
        break;
    }
    const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    if (client >= 0) {
        close(client);
    }
    client = fd;
    const int one = 1;
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return true;
}

void Server::Close() {
    CloseBoth(client, listener);
}

ProcStats ReadProcStats(pid_t pid) {
    ProcStats stats;
    std::ifstream statFile("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(statFile, line)) {
        return stats;
    }
    // The command name may hold blanks and parentheses; the fields follow the last ')'.
    const auto close = line.rfind(')');
    if (close == std::string::npos) {
        return stats;
    }
    std::istringstream fields(line.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    // Field 3 is the state; utime and stime are fields 14 and 15.
    for (int index = 3; index <= 15 && fields >> field; ++index) {
        if (index == 14) {
            utime = std::strtoull(field.c_str(), nullptr, 10);
        } else if (index == 15) {
            stime = std::strtoull(field.c_str(), nullptr, 10);
        }
    }
    stats.cpuSeconds =
        static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            stats.rssKb = std::atol(line.c_str() + 6);
        } else if (line.rfind("VmHWM:", 0) == 0) {
            stats.peakRssKb = std::atol(line.c_str() + 6);
        } else if (line.rfind("Threads:", 0) == 0) {
            stats.threads = std::atoi(line.c_str() + 8);
        }
    }
    if (DIR* fds = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str())) {
        stats.descriptors = 0;
        while (const dirent* entry = readdir(fds)) {
            stats.descriptors += entry->d_name[0] != '.';
        }
        closedir(fds);
    }
    stats.ok = true;
    return stats;
}

bool Contender::Start(const std::string& command, const std::string& folder, std::string& error) {
    logPath = folder + "/contender.log";
    const std::string script = "exec " + command;
    pid = fork();
    if (pid < 0) {
        error = std::string("fork: ") + std::strerror(errno);
        return false;
    }
    if (pid == 0) {
        setpgid(0, 0);
        if (chdir(folder.c_str()) != 0) {
            _exit(126);
        }
        const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int null = open("/dev/null", O_RDONLY);
        if (log >= 0) {
            dup2(log, STDOUT_FILENO);
            dup2(log, STDERR_FILENO);
        }
        if (null >= 0) {
            dup2(null, STDIN_FILENO);
        }
        execl("/bin/sh", "sh", "-c", script.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    setpgid(pid, pid);
    return true;
}

bool Contender::Alive() {
    if (pid < 0) {
        return false;
    }
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) {
        pid = -1;
        return false;
    }
    return true;
}

void Contender::Stop() {
    if (pid < 0) {
        return;
    }
    kill(-pid, SIGTERM);
    const auto deadline = Clock::now() + std::chrono::seconds(3);
    int status = 0;
    while (Clock::now() < deadline) {
        if (waitpid(pid, &status, WNOHANG) == pid) {
            pid = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(-pid, SIGKILL);
    waitpid(pid, &status, 0);
    pid = -1;
}

std::string Contender::LogTail(std::size_t bytes) const {
    std::ifstream in(logPath, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return text.size() > bytes ? text.substr(text.size() - bytes) : text;
}

int RunCapture(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
               std::string* out) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        return -1;
    }
    const pid_t pid = fork();
    if (pid < 0) {
        close(pipeFds[0]);
        close(pipeFds[1]);
        return -1;
    }
    if (pid == 0) {
        dup2(pipeFds[1], STDOUT_FILENO);
        std::vector<char*> args;
        for (const auto& a : argv) {
            args.push_back(const_cast<char*>(a.c_str()));
        }
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(pipeFds[1]);
    const auto deadline = Clock::now() + timeout;
    std::string text;
    pollfd p{pipeFds[0], POLLIN, 0};
    bool timedOut = false;
    while (true) {
        const int left = Remaining(deadline);
        if (left == 0) {
            timedOut = true;
            break;
        }
        const int r = poll(&p, 1, left);
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r <= 0) {
            timedOut = true;
            break;
        }
        char buf[4096];
        const ssize_t n = read(pipeFds[0], buf, sizeof buf);
        if (n <= 0) {
            break;
        }
        text.append(buf, static_cast<std::size_t>(n));
    }
    close(pipeFds[0]);
    int status = 0;
    if (timedOut) {
        kill(pid, SIGKILL);
    }
    waitpid(pid, &status, 0);
    if (out) {
        *out = text;
    }
    if (timedOut || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

std::string Expand(std::string text, const std::string& name, const std::string& value) {
    const std::string key = "{" + name + "}";
    for (auto at = text.find(key); at != std::string::npos;
         at = text.find(key, at + value.size())) {
        text.replace(at, key.size(), value);
    }
    return text;
}

std::string MakeTempFolder(std::string& error) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/varnel-rig-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        error = std::string("mkdtemp: ") + std::strerror(errno);
        return {};
    }
    return pattern;
}

void RemoveTree(const std::string& path) {
    if (path.empty()) {
        return;
    }
    nftw(
        path.c_str(), [](const char* name, const struct stat*, int, FTW*) { return remove(name); },
        16, FTW_DEPTH | FTW_PHYS);
}

} // namespace rig
