// The system's requests that the program end, on Windows: Ctrl+C, Ctrl+Break, the console's
// close and the system's shutdown reach a console handler, which wakes the loop with a stop
// request.
#include "app/framework/headless/win32/StopRequests.h"

#include "app/framework/headless/Loop.h"

namespace {

// How long the handler holds on after a close or a shutdown, within the few seconds the system
// grants: it ends the process once the handler returns, and the program needs the time to close
// the link. The program's own end ends this thread with it.
constexpr DWORD kHoldOnCloseMs = 4500;

void RequestStop() {
    afx::headless::Loop::Instance().RequestStop();
}

BOOL WINAPI OnConsoleEvent(DWORD type) {
    return afx::headless::AnswerConsoleEvent(type, RequestStop, kHoldOnCloseMs);
}

} // namespace

BOOL afx::headless::AnswerConsoleEvent(DWORD type, void (*stop)(), DWORD holdMs) {
    switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        stop();
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        stop();
        ::Sleep(holdMs);
        return TRUE;
    default:
        return FALSE; // a log-off is not ours to act on
    }
}

void afx::headless::ListenForStopRequests() {
    // Ctrl+C counts even where the parent ignored it (a flag that children inherit).
    ::SetConsoleCtrlHandler(nullptr, FALSE);
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void afx::headless::ListenForReloadRequests() {} // the service's PARAMCHANGE asks instead
