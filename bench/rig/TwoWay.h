// Traffic the way people use a bridge: both ends talking at once, and a server asking and the
// device answering. Each phase checks every byte that comes out against the stream that went in.
#pragma once

#include "bench/rig/Phase.h"

#include <cstdint>
#include <vector>

namespace rig {

// The device streams at line rate while the server sends blocks of minBlock..maxBlock bytes,
// one every blockSeconds.
struct TwoWayPlan {
    double seconds = 60;
    double blockSeconds = 0.05;
    std::size_t minBlock = 64;
    std::size_t maxBlock = 512;
    double quietSeconds = 2;
    double maxDrainSeconds = 20;
};

struct TwoWayResult {
    PhaseResult toTcp;    // the device's stream, as the server got it
    PhaseResult toSerial; // the server's blocks, as the device got them
    double cpuSeconds = 0;
    bool contenderGone = false;
    bool connectionClosed = false;
};

TwoWayResult RunTwoWay(const TwoWayPlan& plan, Pty& pty, Server& server, Streams& streams,
                       Contender& contender);

// The server sends a request of requestBytes; the device answers minAnswer..maxAnswer bytes
// answerDelayMs after the whole request came; then the next request. A round that gets no
// answer within roundTimeoutSeconds ends the phase.
struct RequestPlan {
    double seconds = 60;
    std::size_t requestBytes = 8;
    std::size_t minAnswer = 64;
    std::size_t maxAnswer = 256;
    double answerDelayMs = 3;
    double roundTimeoutSeconds = 5;
};

struct RequestResult {
    std::uint64_t rounds = 0;     // requests answered whole and unchanged
    std::uint64_t altered = 0;    // requests or answers that came out changed
    std::uint64_t unanswered = 0; // a round that timed out (the phase then ends)
    double seconds = 0;
    std::vector<double> roundTripMs; // request written to the last byte of its answer read
    double cpuSeconds = 0;
    bool contenderGone = false;
    bool connectionClosed = false;
};

RequestResult RunRequests(const RequestPlan& plan, Pty& pty, Server& server, Streams& streams,
                          Contender& contender);

} // namespace rig
