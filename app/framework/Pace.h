// How often the framework's timers and waits call the dialog: one rule for every backend.
#pragma once

#include <algorithm>

namespace afx {

// A repeating timer calls at most every 10 ms, a one-shot timer no sooner than 1 ms.
inline constexpr unsigned kTimerFloorMs = 10;
inline constexpr unsigned kOneShotFloorMs = 1;

constexpr unsigned TimerPeriodMs(unsigned ms, bool oneShot) {
    return std::max(ms, oneShot ? kOneShotFloorMs : kTimerFloorMs);
}

// A watched event waited on directly (the system's own events, on Windows): when is its next call
// due after one? Still set (a read that found its bytes already there ends as it starts): 1 ms
// later, so that an event nobody resets cannot keep the thread busy. Else when it is set, and
// after 100 ms all the same, the polled mode's period, in case a wait that should end never does
// (the dialog takes a call without news as a late one).
inline constexpr unsigned kEventAgainMs = 1;
inline constexpr unsigned kEventAnywayMs = 100;

constexpr unsigned NextEventCallMs(bool stillSet) {
    return stillSet ? kEventAgainMs : kEventAnywayMs;
}

} // namespace afx
