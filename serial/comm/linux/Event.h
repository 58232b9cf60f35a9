// The layer's events (CreateEventA): manual or automatic reset, with an optional listener.
#pragma once

#include "serial/comm/Comm.h"
#include "serial/comm/linux/Object.h"

#include <condition_variable>
#include <functional>
#include <mutex>

namespace comm {

class Event final : public Object {
public:
    Event(bool manualReset, bool initialState) : manual_(manualReset), signalled_(initialState) {}
    void Set();
    void Reset();
    // True when signalled within the time (INFINITE: no limit); an auto-reset event is reset.
    bool Wait(DWORD milliseconds);
    // Calls notify after every Set, on the thread that sets the event; an empty function stops
    // that. Once a call that stops it has returned, notify is not running and never runs again.
    void SetListener(std::function<void()> notify);

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    const bool manual_;
    bool signalled_;
    std::mutex listenerMutex_;
    std::function<void()> listener_;
};

} // namespace comm
