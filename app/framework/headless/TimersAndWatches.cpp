// A dialog's timers and watches on the loop: sockets as the platform waits on them, events
// through the listener the application handed in (which raises a flag of the loop from the
// thread that sets the event) or, where the listener declines (Windows), waited on directly.
#include "app/framework/Internal.h"
#include "app/framework/headless/DialogImpl.h"
#include "app/framework/headless/Loop.h"

#include <chrono>

using afx::headless::Loop;

struct CDialog::Impl::LoopWatch : Core::Watch {
    ~LoopWatch() override { Loop::Instance().Unwatch(key); }
    std::uint64_t key = 0;
};

// Ends with the listener gone: after that no raise comes from it.
struct CDialog::Impl::EventWatch : LoopWatch {
    ~EventWatch() override { afx::g_eventListener(event, nullptr); }
    void* event = nullptr;
};

void CDialog::Core::StartTimer(UINT_PTR id, unsigned ms, bool oneShot) {
    Loop::Instance().SetTimer(owner, id, std::chrono::milliseconds(ms), oneShot,
                              [o = owner, id] { o->OnTimer(id); });
}

bool CDialog::KillTimer(UINT_PTR nIDEvent) {
    return Loop::Instance().KillTimer(this, nIDEvent);
}

bool CDialog::IsTimerRunning(UINT_PTR nIDEvent) const {
    return Loop::Instance().IsTimerRunning(this, nIDEvent);
}

void CDialog::Core::StopTimers() {
    Loop::Instance().StopTimers(owner);
}

void CDialog::Core::ForgetTimers() {
    Loop::Instance().ForgetTimers(owner);
}

bool CDialog::Core::WatchSocket(UINT_PTR id, std::intptr_t socket, bool writable) {
    auto watch = std::make_unique<Impl::LoopWatch>();
    watch->key =
        Loop::Instance().WatchDescriptor(socket, writable, [o = owner, id] { o->OnWatch(id); });
    watches[id] = std::move(watch);
    return true;
}

bool CDialog::Core::WatchEvent(UINT_PTR id, void* event) {
    // The listener runs on the thread that sets the event; it only raises the flag. The flag
    // outlives both the watch and the listener, so a raise that comes while the watch ends is
    // harmless.
    auto flag = std::make_shared<Loop::Flag>();
    auto notify = [flag] {
        if (flag->live.load())
            Loop::Instance().Raise(*flag);
    };
    if (!afx::g_eventListener || !afx::g_eventListener(event, std::move(notify))) {
        // The system's own event: the loop waits on it.
        auto direct = std::make_unique<Impl::LoopWatch>();
        direct->key = Loop::Instance().WatchHandle(event, [o = owner, id] { o->OnWatch(id); });
        if (direct->key == 0)
            return false;
        watches[id] = std::move(direct);
        return true;
    }
    auto watch = std::make_unique<Impl::EventWatch>();
    watch->event = event;
    watch->key = Loop::Instance().WatchFlag(flag, [o = owner, id] { o->OnWatch(id); });
    watches[id] = std::move(watch);
    return true;
}
