// The Windows backend's waits (see Native.h): a kernel event's waiter thread, which posts to the
// window once per call the window asks for, and a socket's notices through WSAAsyncSelect.
#include "app/framework/win32/NativeInternal.h"

#include <atomic>

namespace w32 {
namespace {

// The waiter of an event watch: a thread that waits for the event, posts one message to the
// window and then waits until the window asks for the next one (ArmEventWait), so that an event
// that stays set is one message per call, not a stream.
struct EventWait {
    HWND dlg;
    UINT_PTR id;
    HANDLE event;
    std::atomic<std::uint32_t> serial;
    HANDLE ack = nullptr;  // auto-reset: the window wants the next set
    HANDLE stop = nullptr; // manual-reset: the watch ends
    HANDLE thread = nullptr;
};

DWORD WINAPI EventWaiter(LPVOID context) {
    auto* w = static_cast<EventWait*>(context);
    for (;;) {
        HANDLE set[2] = {w->stop, w->event};
        if (::WaitForMultipleObjects(2, set, FALSE, INFINITE) != WAIT_OBJECT_0 + 1)
            return 0;
        ::PostMessageW(w->dlg, WM_APP_EVENT, w->id, static_cast<LPARAM>(w->serial.load()));
        HANDLE next[2] = {w->stop, w->ack};
        if (::WaitForMultipleObjects(2, next, FALSE, INFINITE) != WAIT_OBJECT_0 + 1)
            return 0;
    }
}

} // namespace

bool IsSignalled(void* event) {
    return event && ::WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

void* RegisterEventWait(Hwnd dlg, void* event, std::uintptr_t id, std::uint32_t serial) {
    auto* w = new EventWait{dlg, id, event, {serial}};
    w->ack = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    w->stop = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (w->ack && w->stop)
        w->thread = ::CreateThread(nullptr, 64 * 1024, EventWaiter, w, 0, nullptr);
    if (!w->thread) {
        UnregisterEventWait(w);
        return nullptr;
    }
    return w;
}

void ArmEventWait(void* wait, std::uint32_t serial) {
    auto* w = static_cast<EventWait*>(wait);
    if (!w)
        return;
    w->serial.store(serial);
    ::SetEvent(w->ack);
}

void UnregisterEventWait(void* wait) {
    auto* w = static_cast<EventWait*>(wait);
    if (!w)
        return;
    if (w->thread) {
        ::SetEvent(w->stop);
        ::WaitForSingleObject(w->thread, INFINITE);
        ::CloseHandle(w->thread);
    }
    if (w->ack)
        ::CloseHandle(w->ack);
    if (w->stop)
        ::CloseHandle(w->stop);
    delete w;
}

void SelectSocket(Hwnd dlg, std::intptr_t socket, bool readable, bool writable) {
    long events = 0;
    if (readable)
        events |= FD_READ | FD_CLOSE;
    if (writable)
        events |= FD_WRITE | FD_CONNECT | FD_CLOSE;
    ::WSAAsyncSelect(static_cast<SOCKET>(socket), dlg, events ? WM_APP_SOCKET : 0, events);
}

bool SocketReady(std::intptr_t socket, bool writable) {
    fd_set set, failed;
    FD_ZERO(&set);
    FD_ZERO(&failed);
    FD_SET(static_cast<SOCKET>(socket), &set);
    FD_SET(static_cast<SOCKET>(socket), &failed);
    timeval now{0, 0};
    // A connect that failed already shows in the exception set only.
    return ::select(0, writable ? nullptr : &set, writable ? &set : nullptr,
                    writable ? &failed : nullptr, &now) > 0;
}

} // namespace w32
