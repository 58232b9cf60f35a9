// The system's requests to the program, on POSIX: SIGTERM and SIGINT wake the loop with a stop
// request, SIGHUP with a request to read the settings again.
#include "app/framework/headless/Loop.h"

#include <csignal>

namespace {

extern "C" void OnStopSignal(int) {
    afx::headless::Loop::Instance().RequestStop();
}

extern "C" void OnReloadSignal(int) {
    afx::headless::Loop::Instance().RequestReload();
}

void Listen(int signal, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    // The loop hears of it through its wake-up; calls that the signal interrupts elsewhere
    // (a sleep, a connect) go on as if it had not come.
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
}

} // namespace

void afx::headless::ListenForStopRequests() {
    Listen(SIGTERM, OnStopSignal);
    Listen(SIGINT, OnStopSignal);
}

void afx::headless::ListenForReloadRequests() {
    Listen(SIGHUP, OnReloadSignal);
}
