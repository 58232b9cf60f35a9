// Test seams of the platform stand-ins: a socket start-up that fails, a shorter connect time-out
// and a clock set by the test. They live in varnel_platform_seams, which tests link and the
// program does not.
#pragma once

#include "app/platform/Clock.h"

#include <functional>

namespace sock {

// While set, WSAStartup fails with the given code (0 clears it).
void SetStartupFailureForTest(int code);
// How long a connect waits before it gives up, in milliseconds.
void SetConnectTimeoutMsForTest(int ms);

} // namespace sock

// While set, GetLocalTime asks this function instead of the system (nullptr clears it).
void SetClockForTest(std::function<SYSTEMTIME()> clock);
