// The headless backend's message loop on poll(), woken through an eventfd.
#include "app/framework/headless/Loop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <vector>

namespace afx::headless {

Loop& Loop::Instance() {
    static Loop loop;
    return loop;
}

Loop::Loop() : m_wakeFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

Loop::~Loop() {
    if (m_wakeFd >= 0)
        close(m_wakeFd);
}

void Loop::SetTimer(const void* owner, std::uintptr_t id, std::chrono::milliseconds period,
                    bool oneShot, Callback callback) {
    Timer& timer = m_timers[{owner, id}];
    timer.period = period;
    timer.due = Clock::now() + period;
    timer.oneShot = oneShot;
    timer.active = true;
    timer.callback = std::move(callback);
}

bool Loop::KillTimer(const void* owner, std::uintptr_t id) {
    auto it = m_timers.find({owner, id});
    if (it == m_timers.end() || !it->second.active)
        return false;
    it->second.active = false;
    return true;
}

bool Loop::IsTimerRunning(const void* owner, std::uintptr_t id) const {
    auto it = m_timers.find({owner, id});
    return it != m_timers.end() && it->second.active;
}

void Loop::StopTimers(const void* owner) {
    for (auto& [key, timer] : m_timers)
        if (key.first == owner)
            timer.active = false;
}

void Loop::ForgetTimers(const void* owner) {
    std::erase_if(m_timers, [owner](const auto& entry) { return entry.first.first == owner; });
}

std::uint64_t Loop::WatchDescriptor(int fd, bool writable, Callback callback) {
    const std::uint64_t key = m_nextKey++;
    m_descriptors[key] = DescriptorWatch{fd, writable, std::move(callback)};
    return key;
}

std::uint64_t Loop::WatchFlag(std::shared_ptr<Flag> flag, Callback callback) {
    const std::uint64_t key = m_nextKey++;
    m_flags[key] = FlagWatch{std::move(flag), std::move(callback)};
    return key;
}

void Loop::Unwatch(std::uint64_t key) {
    m_descriptors.erase(key);
    if (auto it = m_flags.find(key); it != m_flags.end()) {
        it->second.flag->live.store(false);
        m_flags.erase(it);
    }
}

void Loop::Raise(Flag& flag) {
    if (!flag.raised.exchange(true))
        Wake();
}

void Loop::Wake() {
    const std::uint64_t one = 1;
    // A full counter already wakes the loop; nothing is lost when this write fails.
    [[maybe_unused]] const ssize_t n = write(m_wakeFd, &one, sizeof(one));
}

void Loop::RequestStop() {
    m_stopRequested.store(true);
    Wake();
}

void Loop::RunOnce(Clock::time_point deadline) {
    for (const auto& [key, timer] : m_timers)
        if (timer.active)
            deadline = std::min(deadline, timer.due);

    std::vector<pollfd> fds{{m_wakeFd, POLLIN, 0}};
    std::vector<std::uint64_t> keys{0};
    for (const auto& [key, watch] : m_descriptors) {
        fds.push_back({watch.fd, static_cast<short>(watch.writable ? POLLOUT : POLLIN), 0});
        keys.push_back(key);
    }
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    const int timeoutMs = static_cast<int>(std::clamp<std::int64_t>(wait.count(), 0, 60'000));
    const int ready = poll(fds.data(), fds.size(), timeoutMs);

    if (ready > 0 && fds[0].revents != 0) {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t n = read(m_wakeFd, &count, sizeof(count));
    }
    if (m_stopRequested.load() && !m_stopHandled) {
        m_stopHandled = true;
        if (Callback handler = m_stopHandler)
            handler();
    }
    // Each callback may end any watch or timer: what it ended is looked up again and skipped.
    for (std::size_t i = 1; ready > 0 && i < fds.size(); ++i) {
        if (fds[i].revents == 0)
            continue;
        auto it = m_descriptors.find(keys[i]);
        if (it != m_descriptors.end()) {
            Callback callback = it->second.callback;
            callback();
        }
    }
    std::vector<std::uint64_t> raised;
    for (const auto& [key, watch] : m_flags)
        if (watch.flag->raised.load())
            raised.push_back(key);
    for (std::uint64_t key : raised) {
        auto it = m_flags.find(key);
        if (it == m_flags.end() || !it->second.flag->raised.exchange(false))
            continue;
        Callback callback = it->second.callback;
        callback();
    }
    RunDueTimers();
}

// A periodic timer whose handler ran late fires once for all the ticks it missed, as a window
// timer does.
void Loop::RunDueTimers() {
    const Clock::time_point now = Clock::now();
    std::vector<std::pair<const void*, std::uintptr_t>> due;
    for (const auto& [key, timer] : m_timers)
        if (timer.active && timer.due <= now)
            due.push_back(key);
    for (const auto& key : due) {
        auto it = m_timers.find(key);
        if (it == m_timers.end() || !it->second.active || it->second.due > now)
            continue;
        Timer& timer = it->second;
        if (timer.oneShot) {
            timer.active = false;
        } else {
            timer.due += timer.period;
            if (timer.due <= now)
                timer.due = now + timer.period;
        }
        Callback callback = timer.callback;
        callback();
    }
}

} // namespace afx::headless
