// A dialog's timers (QTimer) and watches: sockets through QSocketNotifier, events through the
// listener the application handed in, whose calls are posted to the window's thread.
#include "app/framework/Internal.h"
#include "app/framework/qt/DialogImpl.h"

#include <QSocketNotifier>
#include <QTimer>

#include <atomic>

namespace {

// What a listener on an event shares with the window's thread: whether the watch is still
// wanted, and whether a call is already on its way (so that a burst of sets is one call).
struct EventWatchState {
    std::atomic<bool> live{true};
    std::atomic<bool> posted{false};
};

} // namespace

struct CDialog::Impl::SocketWatch : Core::Watch {
    std::unique_ptr<QSocketNotifier> notifier;
};

// Ends with the listener gone: after that no call of it runs, and calls still queued find the
// watch no longer live.
struct CDialog::Impl::EventWatch : Core::Watch {
    ~EventWatch() override {
        state->live.store(false);
        afx::g_eventListener(event, nullptr);
    }
    void* event = nullptr;
    std::shared_ptr<EventWatchState> state;
};

void CDialog::Core::StartTimer(UINT_PTR id, unsigned ms, bool oneShot) {
    afx::DialogWidget* dlg = impl->widget;
    QTimer*& timer = impl->timers[id];
    if (!timer) {
        timer = new QTimer(dlg);
        QObject::connect(timer, &QTimer::timeout, dlg, [o = owner, id] { o->OnTimer(id); });
    }
    timer->setSingleShot(oneShot);
    timer->setTimerType(oneShot ? Qt::PreciseTimer : Qt::CoarseTimer);
    timer->start(static_cast<int>(ms));
}

bool CDialog::KillTimer(UINT_PTR nIDEvent) {
    auto& timers = GetImpl().timers;
    auto it = timers.find(nIDEvent);
    if (it == timers.end() || !it->second->isActive())
        return false;
    it->second->stop();
    return true;
}

bool CDialog::IsTimerRunning(UINT_PTR nIDEvent) const {
    const auto& timers = GetImpl().timers;
    auto it = timers.find(nIDEvent);
    return it != timers.end() && it->second->isActive();
}

void CDialog::Core::StopTimers() {
    for (auto& [id, timer] : impl->timers)
        timer->stop();
}

void CDialog::Core::ForgetTimers() {
    impl->timers.clear(); // the timers themselves go with the widget
}

bool CDialog::Core::WatchSocket(UINT_PTR id, std::intptr_t socket, bool writable) {
    auto watch = std::make_unique<Impl::SocketWatch>();
    watch->notifier = std::make_unique<QSocketNotifier>(
        static_cast<qintptr>(socket), writable ? QSocketNotifier::Write : QSocketNotifier::Read);
    QObject::connect(watch->notifier.get(), &QSocketNotifier::activated, impl->widget.data(),
                     [o = owner, id] { o->OnWatch(id); });
    watches[id] = std::move(watch);
    return true;
}

bool CDialog::Core::WatchEvent(UINT_PTR id, void* event) {
    afx::DialogWidget* dlg = impl->widget;
    auto state = std::make_shared<EventWatchState>();
    // The listener runs on the thread that sets the event; it only posts a call to this thread.
    // The window outlives the listener: Unwatch, which every ending of the window goes through,
    // returns only when the listener is gone, and calls still queued die with the window.
    auto notify = [o = owner, dlg, id, state] {
        if (!state->live.load() || state->posted.exchange(true))
            return;
        QMetaObject::invokeMethod(
            dlg,
            [o, id, state] {
                state->posted.store(false);
                if (state->live.load())
                    o->OnWatch(id);
            },
            Qt::QueuedConnection);
    };
    if (!afx::g_eventListener || !afx::g_eventListener(event, std::move(notify)))
        return false;
    auto watch = std::make_unique<Impl::EventWatch>();
    watch->event = event;
    watch->state = std::move(state);
    watches[id] = std::move(watch);
    return true;
}
