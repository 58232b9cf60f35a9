// The headless backend's message loop, what every platform does alike: timers as deadlines, the
// watches' bookkeeping, and a round of the loop (wait, the stop request, the ready watches, the
// raised flags, the due timers). The wait itself is the platform's (posix/, win32/).
#include "app/framework/headless/Loop.h"

#include <algorithm>

namespace afx::headless {

Loop& Loop::Instance() {
    static Loop loop;
    return loop;
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

std::uint64_t Loop::WatchDescriptor(std::intptr_t descriptor, bool writable, Callback callback) {
    const std::uint64_t key = m_nextKey++;
    m_descriptors[key] = DescriptorWatch{descriptor, writable, std::move(callback)};
    Reselect(descriptor);
    return key;
}

std::uint64_t Loop::WatchFlag(std::shared_ptr<Flag> flag, Callback callback) {
    const std::uint64_t key = m_nextKey++;
    m_flags[key] = FlagWatch{std::move(flag), std::move(callback)};
    return key;
}

void Loop::Unwatch(std::uint64_t key) {
    if (auto it = m_descriptors.find(key); it != m_descriptors.end()) {
        const std::intptr_t descriptor = it->second.descriptor;
        m_descriptors.erase(it);
        Reselect(descriptor);
    }
    m_handles.erase(key);
    if (auto it = m_flags.find(key); it != m_flags.end()) {
        it->second.flag->live.store(false);
        m_flags.erase(it);
    }
}

void Loop::Raise(Flag& flag) {
    if (!flag.raised.exchange(true))
        Wake();
}

void Loop::RequestStop() {
    m_stopRequested.store(true);
    Wake();
}

void Loop::RequestReload() {
    m_reloadRequested.store(true);
    Wake();
}

void Loop::RunOnce(Clock::time_point deadline) {
    for (const auto& [key, timer] : m_timers)
        if (timer.active)
            deadline = std::min(deadline, timer.due);
    const std::vector<std::uint64_t> ready = Wait(deadline);

    if (m_stopRequested.load() && !m_stopHandled) {
        m_stopHandled = true;
        if (Callback handler = m_stopHandler)
            handler();
    }
    if (m_reloadRequested.exchange(false) && !m_stopRequested.load())
        if (Callback handler = m_reloadHandler)
            handler();
    // Each callback may end any watch or timer: what it ended is looked up again and skipped.
    for (std::uint64_t key : ready) {
        Callback callback;
        if (auto it = m_descriptors.find(key); it != m_descriptors.end()) {
            callback = it->second.callback;
        } else if (auto h = m_handles.find(key); h != m_handles.end()) {
            h->second.called = Clock::now();
            callback = h->second.callback;
        }
        if (callback)
            callback();
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
