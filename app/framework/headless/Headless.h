// What a program without a window sets on the headless backend: what runs once its main window
// is up, what runs when the system asks it to end (SIGTERM, SIGINT; on Windows Ctrl+C,
// Ctrl+Break, the console's close, a service's stop), and what watches each push.
#pragma once

#include "app/framework/Afx.h"

#include <cstdio>
#include <functional>

namespace afx::headless {

// Runs once the application's main window is initialised, on the loop's thread, before the loop
// first waits.
void SetStartHandler(std::function<void(CDialog&)> handler);
// From now on SIGTERM and SIGINT (on Windows Ctrl+C, Ctrl+Break and the console's close) end
// nothing by themselves: the handler runs on the loop's thread (once) with the application's
// main window, and decides.
void SetStopHandler(std::function<void(CDialog&)> handler);
// Asks for the end as those requests do, from any thread (a service's stop).
void RequestStop();
// Where message boxes' texts go: standard error unless set (a service has none).
void SetMessageOutput(std::FILE* out);
// Runs after every push (UpdateData(false)) of any dialog, and once a control's tooltip changed
// between pushes.
void SetPushObserver(std::function<void(CDialog&)> observer);

} // namespace afx::headless
