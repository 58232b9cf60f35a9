#include "serial/comm/linux/ReadTimeouts.h"

#include <gtest/gtest.h>

#include <ostream>

namespace comm {

// Shown when a row fails.
void PrintTo(const ReadPlan& p, std::ostream* os) {
    *os << "{endsNow " << p.endsNow << ", firstByte " << p.endsAtFirstByte << ", total "
        << (p.hasTotal ? std::to_string(p.totalMs) : "none") << ", interval " << p.intervalMs
        << (p.intervalRunning ? " running" : "") << "}";
}

} // namespace comm

namespace {

using namespace comm;

TEST(ReadTimeoutsTest, TheTimeoutsDecideHowAReadEnds) {
    constexpr DWORD M = MAXDWORD;
    const ReadPlan now{.endsNow = true};
    const ReadPlan forAll{};
    auto total = [](std::uint64_t ms) { return ReadPlan{.hasTotal = true, .totalMs = ms}; };
    auto interval = [](DWORD ms, bool running) {
        return ReadPlan{.intervalMs = ms, .intervalRunning = running};
    };
    struct Case {
        const char* what;
        COMMTIMEOUTS t;
        DWORD asked, got;
        bool behindAnother;
        ReadPlan plan;
    } cases[] = {
        {"all zero: waits for every byte, without limit", {0, 0, 0, 0, 0}, 4, 1, false, forAll},
        {"nothing asked ends at once, whatever the time-outs", {0, 0, 0, 0, 0}, 0, 0, false, now},
        {"all asked came from the queue", {0, 0, 30, 0, 0}, 4, 4, false, now},
        {"immediate, nothing queued", {M, 0, 0, 0, 0}, 4, 0, false, now},
        {"immediate behind another read ends with it", {M, 0, 0, 0, 0}, 4, 0, true, total(0)},
        {"first byte, bytes queued", {M, M, 500, 0, 0}, 4, 2, false, now},
        {"first byte, none queued",
         {M, M, 500, 0, 0},
         4,
         0,
         false,
         {.endsAtFirstByte = true, .hasTotal = true, .totalMs = 500}},
        {"first byte needs a constant below MAXDWORD",
         {M, M, M, 0, 0},
         2,
         0,
         false,
         total(std::uint64_t{M} * 2 + M)},
        {"interval MAXDWORD with a constant is a total time-out",
         {M, 0, 100, 0, 0},
         4,
         0,
         false,
         total(100)},
        {"total is multiplier times bytes asked plus constant",
         {0, 10, 5, 0, 0},
         4,
         1,
         false,
         total(45)},
        {"total does not wrap at 32 bits",
         {0, 0x80000000u, 1, 0, 0},
         4,
         0,
         false,
         total(0x200000001u)},
        {"interval waits for the first byte", {20, 0, 0, 0, 0}, 4, 0, false, interval(20, false)},
        {"interval runs at once after bytes came",
         {20, 0, 0, 0, 0},
         4,
         1,
         false,
         interval(20, true)},
        {"interval and total together",
         {20, 0, 300, 0, 0},
         4,
         1,
         false,
         {.hasTotal = true, .totalMs = 300, .intervalMs = 20, .intervalRunning = true}},
        {"write time-outs play no part", {0, 0, 0, 7, 9}, 4, 0, false, forAll},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PlanRead({c.t, c.asked, c.got, c.behindAnother}), c.plan) << c.what;
}

} // namespace
