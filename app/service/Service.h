// The program as a service of the system's own service manager, where the program registers
// itself (Windows: the service control manager). Elsewhere the system's manager starts the
// program as it is (a systemd unit) and none of these options is offered.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

namespace service {

// Whether the service options exist here; their lines for --help (empty where they do not).
bool Offered();
const char* Usage();

// --install-service NAME DIR: registers the service NAME, started on demand, that runs the
// bridge in the folder DIR. Says what was done or why it failed; returns the exit status.
int Install(const std::string& name, const std::string& dir);
// --remove-service NAME: stops the service if it runs, then deletes it.
int Remove(const std::string& name);
// --service NAME DIR: how the service manager starts the program. Runs bridge in DIR with the
// file its status lines and messages go to, DIR's kStatusFile appended to (a service has no
// console); bridge returns the program's exit status. The manager's stop calls stop (from
// another thread), which asks the bridge to end as Ctrl+C does; its PARAMCHANGE calls reload
// (from another thread), which asks the bridge to read its settings again as SIGHUP does.
int Run(const std::string& name, const std::string& dir,
        const std::function<int(std::FILE*)>& bridge, const std::function<void()>& stop,
        const std::function<void()>& reload);

// Where a service's status lines and messages go, in its folder.
inline constexpr char kStatusFile[] = "varnel-headless.log";

} // namespace service
