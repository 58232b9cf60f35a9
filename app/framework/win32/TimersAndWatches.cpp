// A dialog's timers and watches on Windows. Everything arrives as a message to the dialog's
// window (Native.h), so that it keeps coming while a message box or a menu runs a loop of its own;
// a serial number in each message tells a current timer or watch from one stopped or started anew.
#include "app/framework/Pace.h"
#include "app/framework/win32/DialogImpl.h"

#include <utility>
#include <vector>

namespace {

constexpr std::uint32_t kDelayed = 0x80000000u; // an event watch's call that was put off

} // namespace

// Ends with the wait gone, no call put off and the socket's notices asked for anew.
struct CDialog::Impl::WatchState : Core::Watch {
    explicit WatchState(Impl* i) : impl(i) {}
    ~WatchState() override {
        if (wait)
            w32::UnregisterEventWait(wait);
        w32::StopOneShot(later);
        if (socket >= 0)
            impl->SelectSocket(socket);
    }

    Impl* impl;
    std::intptr_t socket = -1; // a socket's watch
    bool writable = false;
    void* event = nullptr; // an event's watch
    void* wait = nullptr;
    unsigned later = 0; // the multimedia timer of a call put off (see HostEvent)
    std::uint32_t serial = 0;
};

void CDialog::Core::StartTimer(UINT_PTR id, unsigned ms, bool oneShot) {
    Impl::TimerState& timer = impl->timers[id];
    if (oneShot && timer.running && !timer.oneShot)
        w32::StopTimer(impl->hwnd, id);
    w32::StopOneShot(timer.handle);
    timer = {};
    timer.running = true;
    if (!oneShot) {
        w32::StartTimer(impl->hwnd, id, ms);
        return;
    }
    timer.oneShot = true;
    timer.ms = ms;
    timer.serial = ++impl->nextSerial;
    timer.handle = w32::StartOneShot(impl->hwnd, id, timer.serial, ms);
}

bool CDialog::KillTimer(UINT_PTR nIDEvent) {
    Impl& impl = GetImpl();
    auto it = impl.timers.find(nIDEvent);
    if (it == impl.timers.end() || !it->second.running)
        return false;
    if (it->second.oneShot)
        w32::StopOneShot(it->second.handle);
    else
        w32::StopTimer(impl.hwnd, nIDEvent);
    it->second = {};
    return true;
}

bool CDialog::IsTimerRunning(UINT_PTR nIDEvent) const {
    const Impl& impl = GetImpl();
    auto it = impl.timers.find(nIDEvent);
    return it != impl.timers.end() && it->second.running;
}

void CDialog::Core::StopTimers() {
    for (auto& [id, timer] : impl->timers) {
        if (timer.running) {
            w32::StopTimer(impl->hwnd, id);
            w32::StopOneShot(timer.handle);
        }
        timer = {};
    }
}

void CDialog::Core::ForgetTimers() {
    for (auto& [id, timer] : impl->timers)
        w32::StopOneShot(timer.handle);
    impl->timers.clear();
}

void CDialog::Impl::HostTimer(std::uintptr_t id) {
    auto it = timers.find(id);
    if (it != timers.end() && it->second.running && !it->second.oneShot)
        core.owner->OnTimer(id);
}

void CDialog::Impl::HostOneShot(std::uintptr_t id, std::uint32_t serial) {
    auto it = timers.find(id);
    if (it == timers.end() || !it->second.running || !it->second.oneShot ||
        it->second.serial != serial)
        return; // stopped or started anew since
    it->second.running = false;
    it->second.handle = 0;
    core.owner->OnTimer(id);
}

// ---------------------------------------------------------------------------------------------
CDialog::Impl::WatchState* CDialog::Impl::FindWatch(UINT_PTR id) {
    auto it = core.watches.find(id);
    return it == core.watches.end() ? nullptr : static_cast<WatchState*>(it->second.get());
}

bool CDialog::Core::WatchSocket(UINT_PTR id, std::intptr_t socket, bool writable) {
    auto owned = std::make_unique<Impl::WatchState>(impl.get());
    Impl::WatchState& watch = *owned;
    watch.socket = socket;
    watch.writable = writable;
    watch.serial = ++impl->nextSerial;
    watches[id] = std::move(owned);
    impl->SelectSocket(socket);
    // The socket's notices come when its state changes; one that is ready already is told so.
    if (w32::SocketReady(socket, writable)) {
        const std::uint32_t serial = watch.serial;
        w32::PostCall(impl->hwnd, [i = impl.get(), id, serial] { i->FireIfCurrent(id, serial); });
    }
    return true;
}

bool CDialog::Core::WatchEvent(UINT_PTR id, void* event) {
    if (!event)
        return false;
    const std::uint32_t serial = ++impl->nextSerial;
    void* wait = w32::RegisterEventWait(impl->hwnd, event, id, serial);
    if (!wait)
        return false;
    auto watch = std::make_unique<Impl::WatchState>(impl.get());
    watch->event = event;
    watch->wait = wait;
    watch->serial = serial;
    watches[id] = std::move(watch);
    return true;
}

void CDialog::Impl::HostEvent(std::uintptr_t id, std::uint32_t message) {
    // The waiter posts the watch's serial; a call put off (below) has kDelayed set.
    const std::uint32_t serial = message & ~kDelayed;
    WatchState* watch = FindWatch(id);
    if (!watch || !watch->event || watch->serial != serial)
        return;
    w32::StopOneShot(watch->later);
    watch->later = 0;
    core.owner->OnWatch(id);
    watch = FindWatch(id);
    if (!watch || watch->serial != serial)
        return;
    watch->serial = ++nextSerial;
    // The next call as the framework's rule has it (Pace.h): once set again, or after a while
    // all the same; still set, a little later.
    const bool stillSet = w32::IsSignalled(watch->event);
    if (!stillSet)
        w32::ArmEventWait(watch->wait, watch->serial);
    watch->later =
        w32::StartDelayedEvent(hwnd, id, watch->serial | kDelayed, afx::NextEventCallMs(stillSet));
    if (stillSet && !watch->later)
        w32::ArmEventWait(watch->wait, watch->serial);
}

void CDialog::Impl::HostSocket(std::intptr_t socket, bool readable, bool writable) {
    std::vector<std::pair<UINT_PTR, std::uint32_t>> due;
    for (const auto& [id, watch] : core.watches) {
        const auto& state = static_cast<const WatchState&>(*watch);
        if (state.socket == socket && (state.writable ? writable : readable))
            due.emplace_back(id, state.serial);
    }
    for (const auto& [id, serial] : due)
        FireIfCurrent(id, serial);
}

void CDialog::Impl::FireIfCurrent(UINT_PTR id, std::uint32_t serial) {
    WatchState* watch = FindWatch(id);
    if (watch && watch->serial == serial)
        core.owner->OnWatch(id);
}

void CDialog::Impl::SelectSocket(std::intptr_t socket) {
    bool readable = false;
    bool writable = false;
    for (const auto& [id, watch] : core.watches) {
        const auto& state = static_cast<const WatchState&>(*watch);
        if (state.socket == socket)
            (state.writable ? writable : readable) = true;
    }
    if (hwnd)
        w32::SelectSocket(hwnd, socket, readable, writable);
}
