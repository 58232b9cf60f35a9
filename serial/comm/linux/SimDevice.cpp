#include "serial/comm/linux/SimDevice.h"

#include <cerrno>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <string_view>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace comm {

struct SimDevice::State {
    mutable std::mutex mutex;
    int portFd = -1; // the port's end, non-blocking
    int testFd = -1; // the test's end
    bool open = false;
    bool hungUp = false;
    bool hasModemLines = true;
    LineSettings line;
    int inputLines = 0;
    int outputLines = 0;
    bool breaking = false;
    std::uint32_t outQueue = 0;
    LineCounters counters;
    int inputDiscards = 0;
    int outputDiscards = 0;

    ~State() {
        if (portFd >= 0)
            close(portFd);
        if (testFd >= 0)
            close(testFd);
    }
};

template <typename T> T SimDevice::Read(T State::*field) const {
    std::lock_guard lock(state_->mutex);
    return (*state_).*field;
}

namespace {

std::string Key(const std::string& name) {
    std::string key = name;
    for (char& c : key) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return key;
}

std::mutex g_registryMutex;
std::map<std::string, std::weak_ptr<SimDevice::State>> g_registry;

class SimPortDevice final : public Device {
public:
    explicit SimPortDevice(std::shared_ptr<SimDevice::State> state) : s_(std::move(state)) {}
    ~SimPortDevice() override {
        std::lock_guard lock(s_->mutex);
        s_->open = false;
        s_->breaking = false; // as a terminal's close ends a break left on
    }

    int Fd() const override { return s_->portFd; }
    ssize_t Read(void* buf, std::size_t n) override { return read(s_->portFd, buf, n); }
    ssize_t Write(const void* buf, std::size_t n) override {
        return send(s_->portFd, buf, n, MSG_NOSIGNAL);
    }
    int GetLine(LineSettings& line) override {
        return WhileUp([&](State& s) {
            line = s.line;
            return 0;
        });
    }
    int SetLine(const LineSettings& line) override {
        return WhileUp([&](State& s) {
            s.line = line;
            return 0;
        });
    }
    int GetModemLines(int& bits) override {
        return WhileUp([&](State& s) {
            if (!s.hasModemLines)
                return ENOTTY;
            bits = s.inputLines | s.outputLines;
            return 0;
        });
    }
    int SetModemLines(int bits, bool on) override {
        return WhileUp([&](State& s) {
            if (!s.hasModemLines)
                return ENOTTY;
            bits &= kLineDtr | kLineRts;
            s.outputLines = on ? (s.outputLines | bits) : (s.outputLines & ~bits);
            return 0;
        });
    }
    // Breaks work without modem lines too, as on a pseudo-terminal.
    int SetBreak(bool on) override {
        return WhileUp([&](State& s) {
            s.breaking = on;
            return 0;
        });
    }
    int GetCounters(LineCounters& counters) override {
        return WhileUp([&](State& s) {
            counters = s.counters;
            return 0;
        });
    }
    int InQueue(std::uint32_t& bytes) override {
        int n = 0;
        if (ioctl(s_->portFd, FIONREAD, &n) != 0)
            return errno;
        return WhileUp([&](State&) {
            bytes = static_cast<std::uint32_t>(n);
            return 0;
        });
    }
    int OutQueue(std::uint32_t& bytes) override {
        return WhileUp([&](State& s) {
            bytes = s.outQueue;
            return 0;
        });
    }
    int DiscardInput() override {
        if (int err = WhileUp([](State& s) {
                ++s.inputDiscards;
                return 0;
            }))
            return err;
        char sink[4096];
        while (read(s_->portFd, sink, sizeof sink) > 0) {
        }
        return 0;
    }
    int DiscardOutput() override {
        return WhileUp([](State& s) {
            ++s.outputDiscards;
            s.outQueue = 0;
            return 0;
        });
    }
    int Drain() override {
        return WhileUp([](State&) { return 0; });
    }

private:
    using State = SimDevice::State;

    // Runs `use` on the state under its lock; a device that hung up fails with EIO instead.
    template <class Use> int WhileUp(Use use) {
        std::lock_guard lock(s_->mutex);
        if (s_->hungUp)
            return EIO;
        return use(*s_);
    }

    std::shared_ptr<SimDevice::State> s_;
};

} // namespace

SimDevice::SimDevice(const std::string& name) : state_(std::make_shared<State>()) {
    int fds[2] = {-1, -1};
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0) {
        state_->portFd = fds[0];
        state_->testFd = fds[1];
        fcntl(fds[0], F_SETFL, fcntl(fds[0], F_GETFL) | O_NONBLOCK);
    }
    {
        std::lock_guard lock(g_registryMutex);
        g_registry[Key(name)] = state_;
    }
    SetDeviceOpener(&OpenSimDevice);
}

SimDevice::~SimDevice() {
    {
        std::lock_guard lock(g_registryMutex);
        for (auto it = g_registry.begin(); it != g_registry.end();) {
            if (it->second.lock() == state_ || it->second.expired())
                it = g_registry.erase(it);
            else
                ++it;
        }
    }
    // A port still open keeps the state and its descriptors alive; make it see a hang-up.
    HangUp();
}

bool SimDevice::Feed(const std::string& bytes) {
    int fd;
    {
        std::lock_guard lock(state_->mutex);
        if (state_->hungUp)
            return false;
        fd = state_->testFd;
    }
    // A signal may cut a send short; the rest goes in the next one.
    for (std::string_view rest = bytes; !rest.empty();) {
        ssize_t n = send(fd, rest.data(), rest.size(), MSG_NOSIGNAL);
        if (n > 0)
            rest.remove_prefix(static_cast<std::size_t>(n));
        else if (n == 0 || errno != EINTR)
            return false;
    }
    return true;
}

std::string SimDevice::TakeSent(std::size_t count, std::chrono::milliseconds within) {
    int fd;
    {
        std::lock_guard lock(state_->mutex);
        if (state_->hungUp)
            return {};
        fd = state_->testFd;
    }
    std::string out;
    auto deadline = std::chrono::steady_clock::now() + within;
    while (out.size() < count) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() < 0)
            break;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0)
            break;
        char buf[4096];
        ssize_t n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n <= 0)
            break;
        out.append(buf, static_cast<std::size_t>(n));
    }
    return out;
}

void SimDevice::SetInputLines(int bits) {
    std::lock_guard lock(state_->mutex);
    int changed = (state_->inputLines ^ bits) & (kLineCts | kLineDsr | kLineRing | kLineDcd);
    state_->counters.cts += (changed & kLineCts) != 0;
    state_->counters.dsr += (changed & kLineDsr) != 0;
    state_->counters.ring += (changed & kLineRing) != 0;
    state_->counters.dcd += (changed & kLineDcd) != 0;
    state_->inputLines = bits & (kLineCts | kLineDsr | kLineRing | kLineDcd);
}

int SimDevice::OutputLines() const {
    return Read(&State::outputLines);
}

bool SimDevice::Breaking() const {
    return Read(&State::breaking);
}

void SimDevice::InjectErrors(LineCounters added) {
    std::lock_guard lock(state_->mutex);
    LineCounters& c = state_->counters;
    c.frame += added.frame;
    c.overrun += added.overrun;
    c.parity += added.parity;
    c.brk += added.brk;
    c.bufOverrun += added.bufOverrun;
}

LineSettings SimDevice::Line() const {
    return Read(&State::line);
}

void SimDevice::SetLine(const LineSettings& line) {
    std::lock_guard lock(state_->mutex);
    state_->line = line;
}

void SimDevice::SetOutQueue(std::uint32_t bytes) {
    std::lock_guard lock(state_->mutex);
    state_->outQueue = bytes;
}

void SimDevice::SetHasModemLines(bool has) {
    std::lock_guard lock(state_->mutex);
    state_->hasModemLines = has;
}

void SimDevice::HangUp() {
    std::lock_guard lock(state_->mutex);
    if (state_->hungUp)
        return;
    state_->hungUp = true;
    // The port's end then reads end of stream and polls as hung up; it is closed with the state.
    shutdown(state_->testFd, SHUT_RDWR);
}

void SimDevice::HangUpQuietly() {
    std::lock_guard lock(state_->mutex);
    state_->hungUp = true;
}

bool SimDevice::IsOpen() const {
    return Read(&State::open);
}

int SimDevice::InputDiscards() const {
    return Read(&State::inputDiscards);
}

int SimDevice::OutputDiscards() const {
    return Read(&State::outputDiscards);
}

bool OpenSimDevice(const char* name, std::unique_ptr<Device>& device, std::uint32_t& error) {
    std::shared_ptr<SimDevice::State> state;
    {
        std::lock_guard lock(g_registryMutex);
        auto it = g_registry.find(Key(name));
        if (it == g_registry.end())
            return false;
        state = it->second.lock();
    }
    if (!state)
        return false;
    std::lock_guard lock(state->mutex);
    if (state->hungUp || state->portFd < 0) {
        error = 2;
    } else if (state->open) {
        error = 5;
    } else {
        state->open = true;
        error = 0;
        device = std::make_unique<SimPortDevice>(state);
    }
    return true;
}

} // namespace comm
