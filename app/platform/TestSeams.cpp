// The platform's test seams (TestSeams.h): they set what ClockHook.h and SocketState.h hold.
#include "app/platform/TestSeams.h"

#include "app/platform/ClockHook.h"
#include "app/platform/SocketState.h"

#include <utility>

namespace sock {

void SetStartupFailureForTest(int code) {
    g_startupFailure = code;
}

void SetConnectTimeoutMsForTest(int ms) {
    g_connectTimeoutMs = ms;
}

} // namespace sock

void SetClockForTest(std::function<SYSTEMTIME()> clock) {
    platform::SetClock(std::move(clock));
}
