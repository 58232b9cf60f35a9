// How the read time-outs of COMMTIMEOUTS decide what one read does: end at once with what is
// queued, wait for the first byte, wait until a gap between two bytes or a total time runs out,
// or wait for every byte asked. A pure function on the facts of the read; the port turns the
// times it gives into deadlines on its own clock.
#pragma once

#include "serial/comm/Comm.h"

#include <cstdint>

namespace comm {

// What is known when a read has taken what it could from the receive queue.
struct ReadFacts {
    COMMTIMEOUTS timeouts{};
    DWORD asked = 0;            // bytes the caller asked for
    DWORD got = 0;              // bytes it took at once
    bool behindAnother = false; // another read is still pending, this one waits behind it
};

// The decision.
struct ReadPlan {
    bool endsNow = false;         // complete at once with the bytes taken
    bool endsAtFirstByte = false; // once waiting, complete with the first bytes that come
    bool hasTotal = false;        // a total time limit from the start of the read
    std::uint64_t totalMs = 0;    // that limit (0 with another read ahead: it ends with that one)
    DWORD intervalMs = 0;         // the longest gap after a byte (0: none)
    bool intervalRunning = false; // bytes were taken already, so the gap counts from the start

    bool operator==(const ReadPlan&) const = default;
};

ReadPlan PlanRead(const ReadFacts& facts);

// The total time limit of a transfer of `bytes` (Mult * n + Const); false when both are 0.
bool TotalTimeout(DWORD multiplier, DWORD constant, DWORD bytes, std::uint64_t& ms);

} // namespace comm
