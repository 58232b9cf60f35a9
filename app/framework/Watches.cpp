// The bookkeeping of a dialog's timers and watches, the same on every backend; the backend
// starts each timer and makes each watch (DialogCore.h), and destroying a watch ends it.
#include "app/framework/DialogCore.h"
#include "app/framework/Internal.h"
#include "app/framework/Pace.h"

EventListener afx::g_eventListener = nullptr;

void AfxSetEventListener(EventListener listener) {
    afx::g_eventListener = listener;
}

void CDialog::OnWatch(UINT_PTR) {}

UINT_PTR CDialog::SetTimer(UINT_PTR nIDEvent, UINT nElapse) {
    if (!IsBuilt() || nIDEvent == 0)
        return 0;
    GetCore().StartTimer(nIDEvent, afx::TimerPeriodMs(nElapse, false), false);
    return nIDEvent;
}

UINT_PTR CDialog::SetOneShotTimer(UINT_PTR nIDEvent, UINT nElapse) {
    if (!IsBuilt() || nIDEvent == 0)
        return 0;
    GetCore().StartTimer(nIDEvent, afx::TimerPeriodMs(nElapse, true), true);
    return nIDEvent;
}

bool CDialog::WatchSocket(UINT_PTR nID, std::intptr_t socket, bool bWritable) {
    Unwatch(nID);
    if (!IsBuilt() || socket < 0)
        return false;
    return GetCore().WatchSocket(nID, socket, bWritable);
}

bool CDialog::WatchEvent(UINT_PTR nID, void* hEvent) {
    Unwatch(nID);
    if (!IsBuilt())
        return false;
    return GetCore().WatchEvent(nID, hEvent);
}

void CDialog::Unwatch(UINT_PTR nID) {
    // Taken out of the list first, so that the watch ends as one the window no longer has.
    auto watch = GetCore().watches.extract(nID);
}

bool CDialog::IsWatching(UINT_PTR nID) const {
    return GetCore().watches.count(nID) != 0;
}

void CDialog::EndWatches() {
    auto& watches = GetCore().watches;
    while (!watches.empty())
        Unwatch(watches.begin()->first);
}
