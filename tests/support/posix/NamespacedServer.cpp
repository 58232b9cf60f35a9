#include "support/NamespacedServer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <thread>

namespace testing_support {
namespace {

using Clock = std::chrono::steady_clock;

// Runs work on a thread that entered the namespace: a socket made there stays in it. False when
// the thread could not enter.
bool Inside(const std::string& name, const std::function<void()>& work) {
    bool entered = false;
    std::thread inside([&] {
        const int ns = ::open(("/var/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
        if (ns < 0)
            return;
        entered = ::setns(ns, CLONE_NEWNET) == 0;
        ::close(ns);
        if (entered)
            work();
    });
    inside.join();
    return entered;
}

// Listens on kAddress inside the namespace. -1 on failure.
int ListenInside(const std::string& name, std::uint16_t& port) {
    int fd = -1;
    Inside(name, [&] {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return;
        ::sockaddr_in a{};
        a.sin_family = AF_INET;
        ::inet_pton(AF_INET, NamespacedServer::kAddress, &a.sin_addr);
        socklen_t len = sizeof a;
        if (::bind(fd, reinterpret_cast<::sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 4) != 0 ||
            ::getsockname(fd, reinterpret_cast<::sockaddr*>(&a), &len) != 0) {
            ::close(fd);
            fd = -1;
            return;
        }
        port = ntohs(a.sin_port);
    });
    return fd;
}

// Removes what a rig of a test process that no longer runs (killed at its time-out) left behind:
// its namespace and pair would hold the same addresses.
void RemoveLeftovers() {
    const std::string prefix = "varnel-test-";
    std::error_code none;
    for (const auto& entry : std::filesystem::directory_iterator("/var/run/netns", none)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(prefix, 0) != 0)
            continue;
        const std::string pid = name.substr(prefix.size());
        if (pid.empty() || std::filesystem::exists("/proc/" + pid))
            continue;
        std::system(("ip netns del " + name + " >/dev/null 2>&1").c_str());
        std::system(("ip link del vnl" + pid + "a >/dev/null 2>&1").c_str());
    }
}

} // namespace

NamespacedServer::NamespacedServer() {
    const std::string id = std::to_string(::getpid());
    name_ = "varnel-test-" + id;
    here_ = "vnl" + id + "a"; // interface names have at most 15 characters
    there_ = "vnl" + id + "b";

    // The addresses are fixed: a rig of another test process waits until this host's is gone.
    lock_ = ::open("/run/lock/varnel-test-netns.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    const auto deadline = Clock::now() + std::chrono::minutes(5);
    while (lock_ >= 0 && ::flock(lock_, LOCK_EX | LOCK_NB) != 0 && Clock::now() < deadline)
        ::poll(nullptr, 0, 100);
    if (lock_ < 0 || ::flock(lock_, LOCK_EX | LOCK_NB) != 0) {
        problem_ = "another test's namespace did not go away";
        return;
    }
    RemoveLeftovers();
    const std::string inside = "ip netns exec " + name_ + " ";
    // The far end's hardware address is known for good, as a router's is: when the path dies,
    // nothing here learns of it, and the bytes just go unacknowledged.
    const std::string farMac = "02:00:0a:d5:00:02";
    if (!Run("ip netns add " + name_) ||
        !Run("ip link add " + here_ + " type veth peer name " + there_ + " address " + farMac) ||
        !Run("ip link set " + there_ + " netns " + name_) ||
        !Run("ip addr add 10.213.0.1/30 dev " + here_) || !Run("ip link set " + here_ + " up") ||
        !Run("ip neigh replace 10.213.0.2 lladdr " + farMac + " dev " + here_ + " nud permanent") ||
        !Run(inside + "ip addr add 10.213.0.2/30 dev " + there_) ||
        !Run(inside + "ip link set " + there_ + " up") || !Run(inside + "ip link set lo up"))
        return;
    listener_ = ListenInside(name_, port_);
    if (listener_ < 0)
        problem_ = "no listener inside namespace " + name_;
}

NamespacedServer::~NamespacedServer() {
    if (client_ >= 0)
        ::close(client_);
    if (listener_ >= 0)
        ::close(listener_);
    // The namespace takes its end of the pair with it, and the pair's other end goes too.
    std::system(("ip netns del " + name_ + " >/dev/null 2>&1").c_str());
    std::system(("ip link del " + here_ + " >/dev/null 2>&1").c_str());
    if (lock_ >= 0)
        ::close(lock_);
}

bool NamespacedServer::Run(const std::string& command) {
    if (std::system((command + " >/dev/null 2>&1").c_str()) == 0)
        return true;
    if (problem_.empty())
        problem_ = "failed: " + command;
    return false;
}

bool NamespacedServer::Accept(std::chrono::milliseconds timeout) {
    ::pollfd p{listener_, POLLIN, 0};
    if (listener_ < 0 || ::poll(&p, 1, static_cast<int>(timeout.count())) <= 0)
        return false;
    if (client_ >= 0)
        ::close(client_);
    client_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    return client_ >= 0;
}

bool NamespacedServer::Connect(std::uint16_t port) {
    CloseClient();
    Inside(name_, [&] {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ::sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        ::inet_pton(AF_INET, kNearAddress, &a.sin_addr);
        if (fd >= 0 && ::connect(fd, reinterpret_cast<::sockaddr*>(&a), sizeof a) == 0 &&
            ::fcntl(fd, F_SETFL, O_NONBLOCK) == 0)
            client_ = fd;
        else if (fd >= 0)
            ::close(fd);
    });
    return client_ >= 0;
}

void NamespacedServer::CloseClient() {
    if (client_ >= 0)
        ::close(client_);
    client_ = -1;
}

std::string NamespacedServer::Take() {
    std::string got;
    char buf[4096];
    ssize_t n;
    while (client_ >= 0 && (n = ::recv(client_, buf, sizeof buf, 0)) > 0)
        got.append(buf, static_cast<std::size_t>(n));
    return got;
}

bool NamespacedServer::CutPath() {
    return Run("ip netns exec " + name_ + " ip link set " + there_ + " down");
}

bool NamespacedServer::RestorePath() {
    return Run("ip netns exec " + name_ + " ip link set " + there_ + " up");
}

} // namespace testing_support
