// A contender that listens: the rig connects its clients to it and the device's stream goes out
// to every one of them. Each client that reads is checked against the stream; one may be frozen
// (connected, never reading) beside them.
#pragma once

#include "bench/rig/Phase.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace rig {

// The longest wait a client saw between two arrivals, from the start of a phase on.
class GapMeter {
public:
    explicit GapMeter(Clock::time_point start) : last_(start) {}

    void Arrive(Clock::time_point at) {
        Open(at);
        last_ = at;
    }
    // Counts the wait still open at `at` without ending it (the sending ended, nothing came).
    void Open(Clock::time_point at) { largest_ = std::max(largest_, at - last_); }
    double LargestMs() const { return Seconds(largest_) * 1000.0; }

private:
    Clock::time_point last_;
    Clock::duration largest_{};
};

// Connects to 127.0.0.1:port, trying again until the deadline while nothing listens there.
// A positive `receiveBuffer` shrinks the socket's receive buffer first. The socket is
// non-blocking; -1 on failure.
int Dial(std::uint16_t port, Clock::time_point deadline, int receiveBuffer = 0);

// Whether the contender has closed its end of a loopback connection or given up on it.
bool Closed(int fd);

// A port on 127.0.0.1 that nothing listens on at the moment.
std::uint16_t FreePort();

struct FanOutResult {
    std::uint64_t sent = 0;
    std::uint64_t delivered = 0;   // the least any client got in order
    std::uint64_t lost = 0;        // the most any client missed
    std::uint64_t altered = 0;     // altered or extra bytes, over all clients
    std::uint64_t stray = 0;       // bytes that came out at the device
    std::uint64_t unsent = 0;      // due from the device, but the pty was full when sending ended
    std::vector<double> latencyMs; // per chunk and client: written to its last byte read
    double largestGapMs = 0;       // over the clients
    double cpuSeconds = 0;
    bool contenderGone = false;
    bool connectionClosed = false;
};

// The device writes the plan's chunks at its pace (sensor lines with plan.lines) and every one
// of `clients` reads them. A client the contender closes ends the phase.
FanOutResult RunFanOut(const PhasePlan& plan, Pty& pty, const std::vector<int>& clients,
                       Streams& streams, Contender& contender);

} // namespace rig
