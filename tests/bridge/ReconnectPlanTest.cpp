// When a dropped side is tried again: the waits, what resets them, what stops them and which
// ends count as drops.
#include "app/bridge/ReconnectPlan.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Plan = CReconnectPlan;
using End = CReconnectPlan::End;

// The waits between the attempts of a side whose attempts all fail, from the drop on.
std::vector<Plan::Ms> Waits(unsigned bound, int attempts, bool absent = false) {
    Plan plan(bound);
    Plan::Ms now = 5000;
    plan.Ended(Plan::NETWORK, End::serverClosed, now);
    std::vector<Plan::Ms> waits;
    for (int i = 0; i < attempts && plan.Retrying(Plan::NETWORK); ++i) {
        waits.push_back(plan.NextAttempt(Plan::NETWORK) - now);
        now = plan.NextAttempt(Plan::NETWORK);
        EXPECT_FALSE(plan.Due(Plan::NETWORK, now - 1));
        EXPECT_TRUE(plan.Due(Plan::NETWORK, now));
        plan.AttemptFailed(Plan::NETWORK, now, absent);
    }
    return waits;
}

TEST(ReconnectPlan, WaitsDoubleFromOneSecondUpToTheBound) {
    using W = std::vector<Plan::Ms>;
    EXPECT_EQ(Waits(30, 8), (W{1000, 2000, 4000, 8000, 16000, 30000, 30000, 30000}));
    EXPECT_EQ(Waits(1, 3), (W{1000, 1000, 1000}));
    EXPECT_EQ(Waits(5, 5), (W{1000, 2000, 4000, 5000, 5000}));
    EXPECT_EQ(Waits(3600, 2), (W{1000, 2000}));
    // An absent device is looked for once a second, however long it stays away.
    EXPECT_EQ(Waits(30, 4, true), (W{1000, 1000, 1000, 1000}));
    // Off, or a bound out of range: nothing is retried.
    EXPECT_EQ(Waits(0, 3), W{});
    EXPECT_EQ(Waits(3601, 3), W{});
}

TEST(ReconnectPlan, SuccessResetsTheSideAndTheUsersOpenOrCloseStopsEverything) {
    Plan plan(30);
    plan.Ended(Plan::NETWORK, End::serverClosed, 0);
    plan.AttemptFailed(Plan::NETWORK, 1000);
    plan.AttemptFailed(Plan::NETWORK, 3000);
    EXPECT_EQ(plan.Attempts(Plan::NETWORK), 2);
    // The other side stays as it is: only the side that dropped is retried.
    EXPECT_FALSE(plan.Retrying(Plan::SERIAL));
    // A second drop of a side that is retried keeps its plan.
    plan.Ended(Plan::NETWORK, End::connectionDead, 4000);
    EXPECT_EQ(plan.NextAttempt(Plan::NETWORK), 7000);

    plan.AttemptSucceeded(Plan::NETWORK);
    EXPECT_FALSE(plan.Retrying(Plan::NETWORK));
    plan.Ended(Plan::NETWORK, End::serverClosed, 10000);
    EXPECT_EQ(plan.NextAttempt(Plan::NETWORK), 11000);
    EXPECT_EQ(plan.Attempts(Plan::NETWORK), 0);

    plan.Ended(Plan::SERIAL, End::deviceGone, 10000);
    plan.Stop();
    EXPECT_FALSE(plan.Retrying(Plan::NETWORK));
    EXPECT_FALSE(plan.Retrying(Plan::SERIAL));
    EXPECT_FALSE(plan.Due(Plan::SERIAL, 1000000));
}

TEST(ReconnectPlan, EveryEndButTheUsersOwnIsADrop) {
    const struct {
        End end;
        bool drop;
    } ends[] = {
        {End::byUser, false},         {End::reopenCycle, false},   {End::serverClosed, true},
        {End::serverStalled, true},   {End::connectionDead, true}, {End::deviceGone, true},
        {End::portWriteFailed, true}, {End::reopenFailed, true},      {End::openFailed, true},
    };
    for (const auto& e : ends) {
        EXPECT_EQ(Plan::IsDrop(e.end), e.drop) << static_cast<int>(e.end);
        Plan plan(10);
        plan.Ended(Plan::SERIAL, e.end, 0);
        EXPECT_EQ(plan.Retrying(Plan::SERIAL), e.drop) << static_cast<int>(e.end);
    }
}

} // namespace
