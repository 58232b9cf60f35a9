// The Windows backend's timers (see Native.h): the system's periodic timers, and one-shot
// timers on multimedia timers (1 ms resolution) whose thread posts to the window.
#include "app/framework/win32/NativeInternal.h"

#include <mmsystem.h>

#include <map>
#include <mutex>

namespace w32 {
namespace {

struct OneShot {
    HWND dlg;
    UINT msg;
    UINT_PTR id;
    std::uint32_t serial;
};
std::mutex g_oneShotMutex;
std::map<UINT, OneShot> g_oneShots;

void CALLBACK OneShotFired(UINT timer, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR) {
    std::lock_guard lock(g_oneShotMutex);
    auto it = g_oneShots.find(timer);
    if (it == g_oneShots.end())
        return;
    ::PostMessageW(it->second.dlg, it->second.msg, it->second.id,
                   static_cast<LPARAM>(it->second.serial));
    g_oneShots.erase(it);
}

unsigned StartPost(Hwnd dlg, UINT msg, std::uintptr_t id, std::uint32_t serial, unsigned ms) {
    InitGui();
    std::lock_guard lock(g_oneShotMutex);
    const MMRESULT timer = ::timeSetEvent(
        ms, 1, OneShotFired, 0, TIME_ONESHOT | TIME_CALLBACK_FUNCTION | TIME_KILL_SYNCHRONOUS);
    if (timer == 0) {
        // No multimedia timer (none left): the message goes at once.
        ::PostMessageW(dlg, msg, id, static_cast<LPARAM>(serial));
        return 0;
    }
    g_oneShots[timer] = OneShot{dlg, msg, id, serial};
    return timer;
}

} // namespace

void StartTimer(Hwnd dlg, std::uintptr_t id, unsigned ms) {
    ::SetTimer(dlg, id, ms, nullptr);
}

void StopTimer(Hwnd dlg, std::uintptr_t id) {
    ::KillTimer(dlg, id);
}

unsigned StartOneShot(Hwnd dlg, std::uintptr_t id, std::uint32_t serial, unsigned ms) {
    return StartPost(dlg, WM_APP_ONESHOT, id, serial, ms);
}

unsigned StartDelayedEvent(Hwnd dlg, std::uintptr_t id, std::uint32_t serial, unsigned ms) {
    return StartPost(dlg, WM_APP_EVENT, id, serial, ms);
}

void StopOneShot(unsigned timer) {
    if (timer == 0)
        return;
    ::timeKillEvent(timer);
    std::lock_guard lock(g_oneShotMutex);
    g_oneShots.erase(timer);
}

} // namespace w32
