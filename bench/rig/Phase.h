// One phase of traffic through a contender: bytes of the stream go in at one end (the pty
// master or the server's connection) and are checked as they come out at the other.
#pragma once

#include "bench/rig/Rig.h"
#include "bench/rig/Stream.h"

#include <cstdint>
#include <string>
#include <vector>

namespace rig {

enum class Direction { SerialToTcp, TcpToSerial };

// 115200 baud with 8N1 framing: ten bits on the line per byte.
constexpr double kLineRate = 11520.0;
constexpr std::size_t kChunk = 64;

struct PhasePlan {
    Direction direction = Direction::SerialToTcp;
    bool paced = true;
    double seconds = 60;
    // Unpaced: at most this many bytes sent and not yet arrived.
    std::uint64_t maxInFlight = 64 * 1024;
    // Paced: `chunk` bytes every `period` seconds (0: the chunk's time at line rate). Lines: the
    // stream of sensor text lines instead of the byte permutations.
    std::size_t chunk = kChunk;
    double period = 0;
    bool lines = false;
    // After sending, the phase ends when everything arrived, or nothing arrived for this long.
    double quietSeconds = 2;
    double maxDrainSeconds = 20;
};

struct PhaseResult {
    std::uint64_t sent = 0;
    std::uint64_t received = 0;
    std::uint64_t delivered = 0; // received and equal to the stream
    std::uint64_t altered = 0;
    std::uint64_t lost = 0;
    std::uint64_t extra = 0;
    std::uint64_t stray = 0; // bytes that came out at the sending end
    double sendSeconds = 0;
    std::uint64_t deliveredWhileSending = 0;
    std::vector<double> latencyMs; // per chunk: written at one end to its last byte at the other
    double cpuSeconds = 0;
    bool contenderGone = false;
    bool connectionClosed = false;
};

// The stream of each direction continues from phase to phase.
struct Streams {
    Pattern serialToTcp{0x5EA1'0001};
    Pattern tcpToSerial{0x5EA1'0002};
    std::uint64_t serialToTcpOffset = 0;
    std::uint64_t tcpToSerialOffset = 0;
    Pattern serialLines{0x5EA1'0003, Pattern::Kind::Lines};
    std::uint64_t serialLinesOffset = 0;
};

PhaseResult RunPhase(const PhasePlan& plan, Pty& pty, Server& server, Streams& streams,
                     Contender& contender);

double Percentile(std::vector<double> values, double share);

const char* DirectionName(Direction d);

} // namespace rig
