#include "support/PtyPair.h"

#include "app/platform/Profile.h"
#include "serial/Ports.h"

#include <cerrno>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace testing_support {

PtyPair::PtyPair() {
    termios raw{};
    cfmakeraw(&raw);
    cfsetspeed(&raw, B115200);
    char name[PATH_MAX] = {};
    int master = -1, slave = -1;
    if (openpty(&master, &slave, name, &raw, nullptr) != 0)
        return;
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    master_ = master;
    slave_ = slave;
    slavePath_ = name;
}

PtyPair::~PtyPair() {
    HangUp();
    if (slave_ >= 0)
        close(slave_);
}

bool PtyPair::Send(const std::string& bytes) {
    std::size_t done = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (done < bytes.size() && master_ >= 0) {
        ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            pollfd p{master_, POLLOUT, 0};
            poll(&p, 1, 10);
        } else {
            return false;
        }
    }
    return done == bytes.size();
}

std::string PtyPair::Receive(std::size_t count, std::chrono::milliseconds within) {
    std::string out;
    auto deadline = std::chrono::steady_clock::now() + within;
    while (out.size() < count && master_ >= 0) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline -
                                                                 std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd p{master_, POLLIN, 0};
        // A master whose slave is closed polls as hung up; poll in short steps then.
        if (poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 10))) <= 0)
            continue;
        char buf[4096];
        ssize_t n = read(master_, buf, sizeof buf);
        if (n > 0)
            out.append(buf, static_cast<std::size_t>(n));
        else if (!(n < 0 && (errno == EAGAIN || errno == EINTR || errno == EIO)))
            break;
    }
    return out;
}

std::string PtyPair::Drain(std::chrono::milliseconds quiet) {
    std::string out;
    for (;;) {
        std::string more = Receive(1 << 20, quiet);
        if (more.empty())
            return out;
        out += more;
    }
}

int PtyPair::Waiting() const {
    int count = -1;
    return ioctl(slave_, FIONREAD, &count) == 0 ? count : -1;
}

void PtyPair::HangUp() {
    if (master_ >= 0)
        close(master_);
    master_ = -1;
}

void NamePort(const std::string& name, const std::string& path) {
    WritePrivateProfileStringA("Ports", name.c_str(), path.c_str(), ".\\VarnelConfig.ini");
    // What the program hands the serial layer: the section of the settings file in the current
    // directory, read at each open.
    comm::SetPortMap([](const std::string& port) {
        char path[4096] = {};
        GetPrivateProfileStringA("Ports", port.c_str(), "", path, sizeof path,
                                 ".\\VarnelConfig.ini");
        return std::string(path);
    });
}

ScopedPortName::ScopedPortName(std::string name, const std::string& path) : name_(std::move(name)) {
    NamePort(name_, path);
}

ScopedPortName::~ScopedPortName() {
    WritePrivateProfileStringA("Ports", name_.c_str(), nullptr, ".\\VarnelConfig.ini");
}

int OpenDescriptorCount() {
    int count = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (readdir(dir))
            ++count;
        closedir(dir);
    }
    return count - 3; // ".", ".." and the directory's own descriptor
}

} // namespace testing_support
