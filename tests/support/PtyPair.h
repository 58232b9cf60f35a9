// A pseudo-terminal pair for tests: the slave's path is what a port opens, the master is the far
// end of the line. Also helpers to put a device under a port name, a port on a pty of its own, a
// directory of the test's own (TempWorkDir.h) and waiting with a deadline (WaitUntil.h).
#pragma once

#include "support/TempWorkDir.h"
#include "support/WaitUntil.h"

#include <chrono>
#include <string>
#include <utility>

namespace testing_support {

class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool Ok() const { return master_ >= 0; }
    const std::string& SlavePath() const { return slavePath_; }
    int Master() const { return master_; }

    // Writes every byte to the master (the port then receives them). False on failure.
    bool Send(const std::string& bytes);
    // Reads from the master until `count` bytes came or the deadline passed.
    std::string Receive(std::size_t count, std::chrono::milliseconds within);
    // Everything the master can read within the time (until it stays quiet that long).
    std::string Drain(std::chrono::milliseconds quiet);
    // Bytes sent that still wait in the system for a read of the slave; -1 on failure.
    int Waiting() const;
    // Closes the master: whoever holds the slave sees a hang-up.
    void HangUp();

private:
    int master_ = -1;
    int slave_ = -1; // kept open so that the master stays readable while no port is open
    std::string slavePath_;
};

// Names `path` as port `name` in section "Ports" of the settings file in the current directory,
// and hands the serial layer that section as its port map, the way the program does.
void NamePort(const std::string& name, const std::string& path);

// NamePort for the life of the object: the name goes again at its end.
class ScopedPortName {
public:
    ScopedPortName(std::string name, const std::string& path);
    ~ScopedPortName();

private:
    std::string name_;
};

// A port on a fresh pty pair: a directory of the test's own, the pair, and its slave named as
// port `name` in that directory's settings file.
struct NamedPty {
    explicit NamedPty(std::string name) : portName(std::move(name), pty.SlavePath()) {}

    TempWorkDir dir;
    PtyPair pty;
    ScopedPortName portName;
};

// Number of open descriptors of this process.
int OpenDescriptorCount();

} // namespace testing_support
