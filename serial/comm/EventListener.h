// Lets a message loop learn when one of the layer's events is set, so that a window's thread can
// wait for a port's completions together with its other sources instead of blocking on one event.
#pragma once

#include "serial/comm/Comm.h"

#include <functional>

namespace comm {

// Calls notify each time the event is set, on the thread that sets it (often the port's own
// thread): it must only hand the news on, never block. An empty function stops the calls; once
// that call has returned, notify is not running and never runs again. FALSE with
// ERROR_INVALID_HANDLE when hEvent is not an event. On Windows the events are the system's own
// and a window waits on them itself: there it always fails with ERROR_NOT_SUPPORTED.
BOOL SetEventListener(HANDLE hEvent, std::function<void()> notify);

} // namespace comm
