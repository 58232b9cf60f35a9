// The headless loop's wait on POSIX: poll() on the watched descriptors and an eventfd that wakes
// it. The serial layer's events reach the loop as flags its listener raises, so there are no
// kernel events to wait on here.
#include "app/framework/headless/Loop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>

namespace afx::headless {

struct Loop::Waiter {
    int wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
};

Loop::Loop() : m_waiter(std::make_unique<Waiter>()) {}

Loop::~Loop() {
    if (m_waiter->wakeFd >= 0)
        close(m_waiter->wakeFd);
}

std::uint64_t Loop::WatchHandle(void*, Callback) {
    return 0;
}

void Loop::Reselect(std::intptr_t) {} // poll() is asked anew for each wait

void Loop::Wake() {
    const std::uint64_t one = 1;
    // A full counter already wakes the loop; nothing is lost when this write fails.
    [[maybe_unused]] const ssize_t n = write(m_waiter->wakeFd, &one, sizeof(one));
}

std::vector<std::uint64_t> Loop::Wait(Clock::time_point deadline) {
    std::vector<pollfd> fds{{m_waiter->wakeFd, POLLIN, 0}};
    std::vector<std::uint64_t> keys{0};
    for (const auto& [key, watch] : m_descriptors) {
        fds.push_back({static_cast<int>(watch.descriptor),
                       static_cast<short>(watch.writable ? POLLOUT : POLLIN), 0});
        keys.push_back(key);
    }
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    const int timeoutMs = static_cast<int>(std::clamp<std::int64_t>(wait.count(), 0, 60'000));
    std::vector<std::uint64_t> ready;
    if (poll(fds.data(), fds.size(), timeoutMs) <= 0)
        return ready;
    if (fds[0].revents != 0) {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t n = read(m_waiter->wakeFd, &count, sizeof(count));
    }
    for (std::size_t i = 1; i < fds.size(); ++i)
        if (fds[i].revents != 0)
            ready.push_back(keys[i]);
    return ready;
}

} // namespace afx::headless
