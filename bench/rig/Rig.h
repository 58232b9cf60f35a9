// The rig's fixtures: a pty pair standing for the serial device, a TCP server on 127.0.0.1, the
// contender's process and what /proc says about it. Plain POSIX.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace rig {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d);

// An openpty pair in raw mode. The rig keeps the slave open too, so that the master never reads
// a hang-up while the contender opens and closes the device.
struct Pty {
    int master = -1;
    int slave = -1;
    std::string path;

    bool Open(std::string& error);
    void Close();
};

// A listening socket on 127.0.0.1 and the one connection accepted from it.
struct Server {
    int listener = -1;
    int client = -1;
    std::uint16_t port = 0;

    // Listens on `fixedPort`, or on a free port when it is 0.
    bool Listen(std::string& error, std::uint16_t fixedPort = 0);
    // Waits for a connection until the deadline; an earlier one is closed.
    bool Accept(Clock::time_point deadline);
    void Close();
};

struct ProcStats {
    bool ok = false;
    double cpuSeconds = 0; // user + system time of the process itself, children excluded
    long rssKb = 0;        // VmRSS
    long peakRssKb = 0;    // VmHWM
    int threads = 0;
    int descriptors = -1; // open file descriptors, -1 when /proc does not tell
};

ProcStats ReadProcStats(pid_t pid);

// The contender: a shell command run in the working folder, its output in a file there.
struct Contender {
    pid_t pid = -1;
    std::string logPath;

    // Starts `command` with /bin/sh -c "exec COMMAND", so that pid is the contender itself: the
    // command is one program with its arguments.
    bool Start(const std::string& command, const std::string& folder, std::string& error);
    bool Alive();
    // SIGTERM, then SIGKILL after a grace time; reaps the process.
    void Stop();
    std::string LogTail(std::size_t bytes) const;
};

// True when the contender ended; looks at most every 200 ms.
bool Gone(Contender& contender, Clock::time_point now, Clock::time_point& lastCheck);

// Runs a program with the given arguments, waits at most `timeout`, returns its exit status
// (-1 on time-out or failure to start) and its standard output.
int RunCapture(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
               std::string* out);

// Replaces every {name} in `text` by its value.
std::string Expand(std::string text, const std::string& name, const std::string& value);

// A fresh folder under $TMPDIR; RemoveTree deletes it with everything in it.
std::string MakeTempFolder(std::string& error);
void RemoveTree(const std::string& path);

} // namespace rig
