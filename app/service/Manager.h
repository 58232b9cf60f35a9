// The service manager that started the program, as each platform has it. On Linux that is
// systemd: readiness, status, reload and stop news as datagrams on its notify socket, a watchdog
// it expects to hear from, and a journal that reads a priority at the start of each line. Where
// there is no such manager (a terminal, a test; Windows, whose service control is Service.h)
// nothing listens and nothing is sent.
#pragma once

#include <chrono>
#include <string>

namespace manager {

// Tells the manager of a change: newline-separated assignments ("READY=1", "STATUS=...",
// "RELOADING=1", "STOPPING=1", "WATCHDOG=1"). False when no manager listens or the news could not
// be sent; the program goes on either way.
bool Notify(const std::string& strState);

// How often the manager wants WATCHDOG=1: half of the time it allows, or zero when it watches
// nothing (or watches another process).
std::chrono::milliseconds WatchdogPeriod();

// True when standard error goes to the system's journal (which takes "<N>" priorities and stamps
// each line with the time itself).
bool ErrorsGoToJournal();

} // namespace manager
