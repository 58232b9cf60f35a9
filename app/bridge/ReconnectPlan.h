// When a side of the link that dropped is tried again. A pure record of events and the clock: the
// dialog tells it what happened and asks it what is due, and opens and closes through the same
// paths as the button. With a bound of 0 nothing is ever retried.
//
// A side that dropped is first tried 1 s after the drop; each failed attempt doubles the wait, up
// to the bound. A device that is absent is looked for once a second whatever the wait, so that it
// opens within a second of its return. A success ends the side's retries and resets its wait; the
// user's Open or Close ends all of them.
#pragma once

#include <cstdint>

class CReconnectPlan {
public:
    enum Side { SERIAL = 0, NETWORK = 1 };
    using Ms = std::int64_t; // a monotonic clock in milliseconds

    // What ended a side. Every end but the user's own is a drop.
    enum class End {
        byUser,          // 关闭, or the Open that replaces the link
        reopenCycle,     // the pause after each block from the server (REOPEN)
        serverClosed,    // the server closed or reset, a receive or send failed
        serverStalled,   // the server stopped reading
        connectionDead,  // keepalive or the user time-out found the path dead
        deviceGone,      // the device vanished or hung up
        portWriteFailed, // a write to the port failed for good
        reopenFailed,    // the REOPEN cycle's open failed
        openFailed,      // a side did not come up when the link was opened
    };
    static bool IsDrop(End end) { return end != End::byUser && end != End::reopenCycle; }

    // nBoundSeconds: the longest wait between two attempts; 0 or beyond 3600 retries nothing.
    explicit CReconnectPlan(unsigned nBoundSeconds = 0);
    bool Enabled() const { return m_nBoundMs > 0; }
    unsigned BoundSeconds() const { return static_cast<unsigned>(m_nBoundMs / 1000); }

    void Ended(Side side, End end, Ms now);
    // An attempt on a side that is retried failed; bAbsent: the device was not there at all.
    void AttemptFailed(Side side, Ms now, bool bAbsent = false);
    void AttemptSucceeded(Side side);
    // The user's Open or Close: nothing is retried any more.
    void Stop();

    bool Retrying(Side side) const { return m_sides[side].retrying; }
    // The attempt on the side is due at now.
    bool Due(Side side, Ms now) const { return Retrying(side) && now >= m_sides[side].due; }
    Ms NextAttempt(Side side) const { return m_sides[side].due; }
    // The attempts made since the drop, the one that is due next not counted.
    int Attempts(Side side) const { return m_sides[side].attempts; }

private:
    struct SideState {
        bool retrying = false;
        Ms due = 0;
        Ms wait = 0; // the wait after the next failed attempt of a present device
        int attempts = 0;
    };
    Ms m_nBoundMs;
    SideState m_sides[2];
};
