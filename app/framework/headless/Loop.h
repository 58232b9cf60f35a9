// The headless backend's message loop: one thread waits on the watched sockets, the watched
// kernel events (Windows) and a wake-up until the next timer is due, then runs what is ready.
// What every platform does alike is in Loop.cpp; the wait itself in posix/ (poll) and win32/
// (WaitForMultipleObjects). Internal to the backend.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

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

    // A socket watched for reading (or writing); the callback runs while it is ready, an error
    // or a hang-up counting as ready. Returns the key that ends the watch.
    std::uint64_t WatchDescriptor(std::intptr_t descriptor, bool writable, Callback callback);
    // A kernel event that the system sets (Windows), waited on directly: the callback runs when
    // it is set, while it stays set again no sooner than 1 ms after the last call (an event
    // nobody resets cannot keep the loop busy), and every 100 ms in any case, in case a wait
    // that should end never does. 0 where the system has no such events (POSIX: there the
    // serial layer's listener raises a flag instead).
    std::uint64_t WatchHandle(void* handle, Callback callback);
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
    // The request that the program end, from a signal handler or another thread
    // (async-signal-safe); the handler runs on the loop's thread once.
    void RequestStop();
    void SetStopHandler(Callback handler) { m_stopHandler = std::move(handler); }
    // The request that the program read its settings again, likewise; the handler runs on the
    // loop's thread once for one or more requests, never after a stop was asked for.
    void RequestReload();
    void SetReloadHandler(Callback handler) { m_reloadHandler = std::move(handler); }

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
        std::intptr_t descriptor;
        bool writable;
        Callback callback;
    };
    struct HandleWatch {
        void* handle;
        Callback callback;
        Clock::time_point called; // the last call (or the start of the watch)
    };
    struct FlagWatch {
        std::shared_ptr<Flag> flag;
        Callback callback;
    };
    // The platform's half of the loop (posix/Loop.cpp, win32/Loop.cpp).
    struct Waiter;

    // The platform's wait: until a watched socket or handle is ready, the loop is woken or the
    // deadline passed. Returns the keys of the socket and handle watches that are ready.
    std::vector<std::uint64_t> Wait(Clock::time_point deadline);
    // Tells the platform that the watches of a socket changed.
    void Reselect(std::intptr_t descriptor);
    void RunDueTimers();

    std::unique_ptr<Waiter> m_waiter;
    std::atomic<bool> m_stopRequested{false};
    bool m_stopHandled = false;
    Callback m_stopHandler;
    std::atomic<bool> m_reloadRequested{false};
    Callback m_reloadHandler;
    std::uint64_t m_nextKey = 1;
    std::map<std::pair<const void*, std::uintptr_t>, Timer> m_timers;
    std::map<std::uint64_t, DescriptorWatch> m_descriptors;
    std::map<std::uint64_t, HandleWatch> m_handles;
    std::map<std::uint64_t, FlagWatch> m_flags;
};

// Has the system's requests that the program end (SIGTERM and SIGINT; on Windows Ctrl+C,
// Ctrl+Break and the console's close) call Loop::RequestStop. Defined by each platform.
void ListenForStopRequests();
// Has the system's request that the program read its settings again (SIGHUP) call
// Loop::RequestReload. Nothing where the system has no such signal (Windows: the service's
// PARAMCHANGE comes through the program).
void ListenForReloadRequests();

} // namespace afx::headless
