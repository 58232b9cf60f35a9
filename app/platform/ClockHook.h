// The clock that the test seam (TestSeams.h) sets and the program leaves empty.
#pragma once

#include "app/platform/Clock.h"

#include <functional>

namespace platform {

// While set, GetLocalTime asks this function instead of the system (nullptr clears it).
void SetClock(std::function<SYSTEMTIME()> clock);

} // namespace platform
