#include "serial/comm/linux/Event.h"

#include <chrono>

namespace comm {

void Event::Set() {
    {
        std::lock_guard lock(mutex_);
        signalled_ = true;
    }
    cv_.notify_all();
    std::lock_guard lock(listenerMutex_);
    if (listener_)
        listener_();
}

void Event::SetListener(std::function<void()> notify) {
    std::lock_guard lock(listenerMutex_);
    listener_ = std::move(notify);
}

void Event::Reset() {
    std::lock_guard lock(mutex_);
    signalled_ = false;
}

bool Event::Wait(DWORD milliseconds) {
    std::unique_lock lock(mutex_);
    if (milliseconds == INFINITE) {
        cv_.wait(lock, [this] { return signalled_; });
    } else if (!cv_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                             [this] { return signalled_; })) {
        return false;
    }
    if (!manual_)
        signalled_ = false;
    return true;
}

} // namespace comm
