// What a program without a window sets on the headless backend: what runs once its main window
// is up, what runs when the system asks it to end (SIGTERM, SIGINT; on Windows Ctrl+C,
// Ctrl+Break, the console's close, a service's stop) or to read its settings again (SIGHUP; a
// service's PARAMCHANGE), what runs at a steady pace, and what watches each push.
#pragma once

#include "app/framework/Afx.h"

#include <chrono>
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
// From now on SIGHUP (where the system has it) ends nothing: the handler runs on the loop's
// thread with the main window, once for one or more requests and never after a stop request.
void SetReloadHandler(std::function<void(CDialog&)> handler);
// Asks for a reload as SIGHUP does, from any thread (a service's PARAMCHANGE).
void RequestReload();
// Runs the handler with the main window every period on the loop's thread, from when the loop
// first waits; a zero period ends it.
void SetTicker(std::chrono::milliseconds period, std::function<void(CDialog&)> handler);
// Where message boxes' texts go: standard error unless set (a service has none).
void SetMessageOutput(std::FILE* out);
// Runs after every push (UpdateData(false)) of any dialog, and once a control's tooltip changed
// between pushes.
void SetPushObserver(std::function<void(CDialog&)> observer);

} // namespace afx::headless
