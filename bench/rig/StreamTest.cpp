#include "bench/rig/Stream.h"
#include "bench/rig/Connections.h"
#include "bench/rig/Phase.h"
#include "bench/rig/Rig.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

namespace rig {
namespace {

std::vector<std::uint8_t> Bytes(Pattern& p, std::uint64_t from, std::size_t count) {
    std::vector<std::uint8_t> out(count);
    p.Fill(from, out.data(), count);
    return out;
}

TEST(Pattern, EveryBlockHoldsAllByteValuesAndTheStreamIsRepeatable) {
    Pattern a(7), b(7);
    for (std::uint64_t block : {0ull, 1ull, 4095ull}) {
        std::set<int> seen;
        for (int i = 0; i < 256; ++i) {
            seen.insert(a.At(block * 256 + i));
        }
        EXPECT_EQ(seen.size(), 256u);
    }
    EXPECT_EQ(Bytes(a, 1000, 600), Bytes(b, 1000, 600));
    EXPECT_NE(Bytes(a, 0, 256), Bytes(a, 256, 256));
    Pattern other(8);
    EXPECT_NE(Bytes(a, 0, 256), Bytes(other, 0, 256));
}

TEST(Pattern, SensorLinesArePrintableRepeatableAndAHoleInThemIsFound) {
    constexpr std::size_t kLine = Pattern::kLineSize;
    Pattern a(9, Pattern::Kind::Lines), b(9, Pattern::Kind::Lines);
    const auto text = Bytes(a, 0, 40 * kLine);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::size_t column = i % kLine;
        if (column == kLine - 2) {
            EXPECT_EQ(text[i], '\r') << i;
        } else if (column == kLine - 1) {
            EXPECT_EQ(text[i], '\n') << i;
        } else {
            EXPECT_TRUE(text[i] >= 0x20 && text[i] < 0x7F) << i;
        }
    }
    EXPECT_EQ(Bytes(a, 1000, 500), Bytes(b, 1000, 500));
    // Text that repeats itself would make the checker resynchronise in the wrong place.
    StreamChecker c(a, 0);
    auto data = text;
    data.erase(data.begin() + 300, data.begin() + 530);
    c.Feed(data.data(), data.size(), text.size());
    c.Finish(text.size());
    EXPECT_EQ(c.Skipped(), 230u);
    EXPECT_EQ(c.Altered(), 0u);
}

TEST(StreamChecker, AnExactCopyFedInPiecesMatchesEveryByte) {
    Pattern p(1);
    StreamChecker c(p, 500);
    const auto data = Bytes(p, 500, 3000);
    for (std::size_t at = 0; at < data.size(); at += 7) {
        c.Feed(data.data() + at, std::min<std::size_t>(7, data.size() - at), 3500);
    }
    c.Finish(3500);
    EXPECT_EQ(c.Matched(), 3000u);
    EXPECT_EQ(c.Altered(), 0u);
    EXPECT_EQ(c.Skipped(), 0u);
    EXPECT_EQ(c.Position(), 3500u);
}

TEST(StreamChecker, AChangedByteCountsAsAlteredAndTheRestStillMatches) {
    Pattern p(2);
    StreamChecker c(p, 0);
    auto data = Bytes(p, 0, 1000);
    data[400] ^= 0x20;
    data[401] ^= 0xFF;
    c.Feed(data.data(), data.size(), 1000);
    c.Finish(1000);
    EXPECT_EQ(c.Altered(), 2u);
    EXPECT_EQ(c.Matched(), 998u);
    EXPECT_EQ(c.Skipped(), 0u);
}

TEST(StreamChecker, BytesDroppedInsideTheFlowCountAsSkippedNotAltered) {
    Pattern p(3);
    StreamChecker c(p, 0);
    auto data = Bytes(p, 0, 5000);
    data.erase(data.begin() + 1000, data.begin() + 1300); // a purge-sized hole
    // Fed one byte at a time, so the look-up has to wait for its window.
    for (auto byte : data) {
        c.Feed(&byte, 1, 5000);
    }
    c.Finish(5000);
    EXPECT_EQ(c.Skipped(), 300u);
    EXPECT_EQ(c.Matched(), 4700u);
    EXPECT_EQ(c.Altered(), 0u);
    EXPECT_EQ(c.Position(), 5000u);
}

TEST(StreamChecker, AMissingTailLeavesThePositionShortAndExtraBytesAreCounted) {
    Pattern p(4);
    StreamChecker c(p, 0);
    auto data = Bytes(p, 0, 800);
    c.Feed(data.data(), 600, 800);
    c.Finish(800);
    EXPECT_EQ(c.Position(), 600u);
    EXPECT_EQ(c.Matched(), 600u);

    StreamChecker d(p, 0);
    d.Feed(data.data(), 800, 700);
    d.Finish(700);
    EXPECT_EQ(d.Matched(), 700u);
    EXPECT_EQ(d.Extra(), 100u);
}

TEST(StreamChecker, AShortMismatchAtTheEndIsSettledByFinish) {
    Pattern p(5);
    StreamChecker c(p, 0);
    auto data = Bytes(p, 0, 100);
    data[98] ^= 1;
    c.Feed(data.data(), data.size(), 100);
    EXPECT_EQ(c.Matched(), 98u); // held back, waiting for a window to look up
    c.Finish(100);
    EXPECT_EQ(c.Matched(), 99u);
    EXPECT_EQ(c.Altered(), 1u);
}

// Connections one after another, each a stretch of the stream: a stretch that starts before the
// furthest point reached repeats bytes (charged to the cut before it), one that starts beyond
// it leaves lost bytes. A stretch shorter than the look-up window is still placed.
TEST(DeviceAccount, TellsRepeatsAtACutFromGapsBetweenConnections) {
    struct Stretch {
        std::uint64_t from, to;
        bool afterAbortive;
    };
    struct Case {
        const char* name;
        std::vector<Stretch> stretches;
        std::uint64_t delivered, repeated, repeatedGraceful, lost;
    };
    const std::vector<Case> cases = {
        {"one connection", {{0, 1000, false}}, 1000, 0, 0, 0},
        {"resent after a reset", {{0, 1000, false}, {900, 2000, true}}, 2000, 100, 0, 0},
        {"resent after a close", {{0, 1000, false}, {900, 2000, false}}, 2000, 0, 100, 0},
        {"gap between", {{0, 1000, false}, {1200, 2000, true}}, 1800, 0, 0, 200},
        {"short last one", {{0, 1000, false}, {1000, 1010, false}}, 1010, 0, 0, 0},
        {"three, exact", {{0, 700, false}, {700, 1500, true}, {1500, 2000, false}}, 2000, 0, 0, 0},
    };
    for (const Case& c : cases) {
        Pattern pattern(21);
        DeviceAccount account(pattern);
        const std::uint64_t sent = c.stretches.back().to;
        for (const Stretch& s : c.stretches) {
            account.Begin(s.afterAbortive);
            const auto bytes = Bytes(pattern, s.from, s.to - s.from);
            for (std::size_t at = 0; at < bytes.size(); at += 100) {
                account.Feed(bytes.data() + at, std::min<std::size_t>(100, bytes.size() - at),
                             sent);
            }
            account.End(sent);
        }
        const Figures f = account.Now();
        EXPECT_EQ(f.delivered, c.delivered) << c.name;
        EXPECT_EQ(f.repeated, c.repeated) << c.name;
        EXPECT_EQ(f.repeatedGraceful, c.repeatedGraceful) << c.name;
        EXPECT_EQ(f.lost, c.lost) << c.name;
        EXPECT_EQ(f.altered + f.extra, 0u) << c.name;
        EXPECT_EQ(f.frontier, sent) << c.name;
    }
}

TEST(Percentile, NearestRank) {
    EXPECT_DOUBLE_EQ(Percentile({5, 1, 3, 2, 4}, 0.5), 3);
    EXPECT_DOUBLE_EQ(Percentile({5, 1, 3, 2, 4}, 0.99), 5);
    std::vector<double> hundred;
    for (int i = 1; i <= 100; ++i) {
        hundred.push_back(i);
    }
    EXPECT_DOUBLE_EQ(Percentile(hundred, 0.99), 99);
}

TEST(Expand, ReplacesEveryPlaceholder) {
    EXPECT_EQ(Expand("a {pty} b {pty}", "pty", "/dev/pts/3"), "a /dev/pts/3 b /dev/pts/3");
    EXPECT_EQ(Expand("TCP:127.0.0.1:{port}", "port", "4000"), "TCP:127.0.0.1:4000");
    EXPECT_EQ(Expand("{x}", "x", "{x}"), "{x}");
}

} // namespace
} // namespace rig
