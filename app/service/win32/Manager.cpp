// No systemd on Windows: its service manager hears from the program through Service.h.
#include "app/service/Manager.h"

bool manager::Notify(const std::string&) {
    return false;
}

std::chrono::milliseconds manager::WatchdogPeriod() {
    return std::chrono::milliseconds(0);
}

bool manager::ErrorsGoToJournal() {
    return false;
}
