#include "app/bridge/ReconnectPlan.h"

#include <algorithm>

namespace {

constexpr CReconnectPlan::Ms kFirstWaitMs = 1000;
constexpr unsigned kLongestBoundSeconds = 3600;

} // namespace

CReconnectPlan::CReconnectPlan(unsigned nBoundSeconds)
    : m_nBoundMs(nBoundSeconds <= kLongestBoundSeconds ? Ms{nBoundSeconds} * 1000 : 0) {}

void CReconnectPlan::Ended(Side side, End end, Ms now) {
    if (!Enabled() || !IsDrop(end))
        return;
    SideState& s = m_sides[side];
    if (s.retrying)
        return; // a side that is retried already keeps its plan
    s = {true, now + kFirstWaitMs, std::min(2 * kFirstWaitMs, m_nBoundMs), 0};
}

void CReconnectPlan::AttemptFailed(Side side, Ms now, bool bAbsent) {
    SideState& s = m_sides[side];
    if (!s.retrying)
        return;
    ++s.attempts;
    if (bAbsent) {
        s.due = now + kFirstWaitMs;
        return;
    }
    s.due = now + s.wait;
    s.wait = std::min(2 * s.wait, m_nBoundMs);
}

void CReconnectPlan::AttemptSucceeded(Side side) {
    m_sides[side] = {};
}

void CReconnectPlan::Stop() {
    m_sides[SERIAL] = {};
    m_sides[NETWORK] = {};
}
