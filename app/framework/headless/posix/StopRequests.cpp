// The system's requests that the program end, on POSIX: SIGTERM and SIGINT wake the loop with
// a stop request.
#include "app/framework/headless/Loop.h"

#include <csignal>

namespace {

extern "C" void OnStopSignal(int) {
    afx::headless::Loop::Instance().RequestStop();
}

} // namespace

void afx::headless::ListenForStopRequests() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    // The loop hears of it through its wake-up; calls that the signal interrupts elsewhere
    // (a sleep, a connect) go on as if it had not come.
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}
