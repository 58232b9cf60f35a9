// The headless backend's message loop: one thread waits in poll() on the watched descriptors and
// a wake-up descriptor until the next timer is due, then runs what is ready. Internal to the
// backend.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <utility>

namespace afx::headless {

class Loop {
public:
    using Clock = std::chrono::steady_clock;
    using Callback = std::function<void()>;

    // The one loop of the process.
    static Loop& Instance();

    // A timer of an owner by id: every period (or once), on the loop's thread. Setting an id in
    // use starts its wait anew.
    void SetTimer(const void* owner, std::uintptr_t id, std::chrono::milliseconds period,
                  bool oneShot, Callback callback);
    bool KillTimer(const void* owner, std::uintptr_t id);
    bool IsTimerRunning(const void* owner, std::uintptr_t id) const;
    void StopTimers(const void* owner);
    void ForgetTimers(const void* owner);

    // A descriptor watched for reading (or writing); the callback runs while it is ready, an
    // error or a hang-up counting as ready. Returns the key that ends the watch.
    std::uint64_t WatchDescriptor(int fd, bool writable, Callback callback);
    // A flag that any thread may raise (Raise); the callback runs once on the loop's thread for
    // one or more raises. Returns the key that ends the watch.
    struct Flag {
        std::atomic<bool> raised{false};
        std::atomic<bool> live{true};
    };
    std::uint64_t WatchFlag(std::shared_ptr<Flag> flag, Callback callback);
    void Unwatch(std::uint64_t key);

    // Raises the flag and wakes the loop; only hands the news on, never blocks.
    void Raise(Flag& flag);
    // Wakes the loop from a signal handler or another thread (async-signal-safe).
    void Wake();

    // Waits until something is ready or the deadline passed, then runs what is ready.
    void RunOnce(Clock::time_point deadline);
    // The request that the program end, raised from a signal handler (async-signal-safe); the
    // handler runs on the loop's thread once.
    void RequestStop();
    void SetStopHandler(Callback handler) { m_stopHandler = std::move(handler); }

private:
    Loop();
    ~Loop();

    struct Timer {
        std::chrono::milliseconds period;
        Clock::time_point due;
        bool oneShot = false;
        bool active = false;
        Callback callback;
    };
    struct DescriptorWatch {
        int fd;
        bool writable;
        Callback callback;
    };
    struct FlagWatch {
        std::shared_ptr<Flag> flag;
        Callback callback;
    };

    void RunDueTimers();

    int m_wakeFd = -1;
    std::atomic<bool> m_stopRequested{false};
    bool m_stopHandled = false;
    Callback m_stopHandler;
    std::uint64_t m_nextKey = 1;
    std::map<std::pair<const void*, std::uintptr_t>, Timer> m_timers;
    std::map<std::uint64_t, DescriptorWatch> m_descriptors;
    std::map<std::uint64_t, FlagWatch> m_flags;
};

} // namespace afx::headless
