// The answer of the program without a window to an event of its console (StopRequests.cpp), on
// its own so that it can be called as the system calls the console handler.
#pragma once

#include <windows.h>

namespace afx::headless {

// Ctrl+C, Ctrl+Break, the console's close and the system's shutdown call stop and are the
// program's to handle (TRUE); after a close or a shutdown the answer holds on for holdMs first,
// since the system ends the process once the handler returns. Anything else (a log-off) is left
// to the next handler (FALSE).
BOOL AnswerConsoleEvent(DWORD type, void (*stop)(), DWORD holdMs);

} // namespace afx::headless
