#include "serial/comm/linux/ReadTimeouts.h"

namespace comm {

bool TotalTimeout(DWORD multiplier, DWORD constant, DWORD bytes, std::uint64_t& ms) {
    if (multiplier == 0 && constant == 0)
        return false;
    ms = std::uint64_t{multiplier} * bytes + constant;
    return true;
}

ReadPlan PlanRead(const ReadFacts& facts) {
    const COMMTIMEOUTS& t = facts.timeouts;
    // Interval MAXDWORD with no total: what is queued, at once.
    const bool immediate = t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 &&
                           t.ReadTotalTimeoutConstant == 0;
    // Interval and multiplier MAXDWORD, a constant between: what is queued, else the first byte
    // to come, within the constant.
    const bool firstByte =
        t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == MAXDWORD &&
        t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != MAXDWORD;

    ReadPlan plan;
    if (facts.asked == 0 || facts.got == facts.asked || (immediate && !facts.behindAnother) ||
        (firstByte && facts.got > 0)) {
        plan.endsNow = true;
        return plan;
    }
    plan.endsAtFirstByte = firstByte;
    if (immediate) {
        plan.hasTotal = true; // queued behind another read: ends with it
        plan.totalMs = 0;
    } else if (firstByte) {
        plan.hasTotal = true;
        plan.totalMs = t.ReadTotalTimeoutConstant;
    } else {
        plan.hasTotal = TotalTimeout(t.ReadTotalTimeoutMultiplier, t.ReadTotalTimeoutConstant,
                                     facts.asked, plan.totalMs);
        if (t.ReadIntervalTimeout != 0 && t.ReadIntervalTimeout != MAXDWORD) {
            plan.intervalMs = t.ReadIntervalTimeout;
            plan.intervalRunning = facts.got > 0;
        }
    }
    return plan;
}

} // namespace comm
