#include "bench/rig/Rig.h"
#include "bench/rig/Listen.h"
#include "bench/rig/Phase.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace rig {
namespace {

TEST(RunCapture, ReturnsTheOutputAndGivesUpAtTheTimeOut) {
    std::string out;
    EXPECT_EQ(RunCapture({"sh", "-c", "echo hello; exit 3"}, std::chrono::seconds(5), &out), 3);
    EXPECT_EQ(out, "hello\n");
    const auto start = Clock::now();
    EXPECT_EQ(RunCapture({"sleep", "10"}, std::chrono::milliseconds(200), nullptr), -1);
    EXPECT_LT(Seconds(Clock::now() - start), 5);
}

TEST(ReadProcStats, ReadsCpuAndMemoryOfAProcess) {
    const ProcStats stats = ReadProcStats(getpid());
    ASSERT_TRUE(stats.ok);
    EXPECT_GT(stats.rssKb, 0);
    EXPECT_GE(stats.peakRssKb, stats.rssKb);
    EXPECT_GE(stats.cpuSeconds, 0);
    EXPECT_FALSE(ReadProcStats(-5).ok);
}

TEST(GapMeter, KeepsTheLongestWaitFromTheStartOnAndAWaitStillOpen) {
    const auto start = Clock::now();
    const auto at = [&](int ms) { return start + std::chrono::milliseconds(ms); };
    GapMeter gaps(start);
    gaps.Arrive(at(30));
    gaps.Arrive(at(50));
    gaps.Arrive(at(150));
    gaps.Open(at(200));
    EXPECT_NEAR(gaps.LargestMs(), 100, 1e-6);
    gaps.Open(at(300)); // nothing since 150: the open wait counts once it is the longest
    EXPECT_NEAR(gaps.LargestMs(), 150, 1e-6);
    gaps.Arrive(at(400)); // and the wait it ends counts whole
    EXPECT_NEAR(gaps.LargestMs(), 250, 1e-6);
    GapMeter silent(start);
    silent.Open(at(80));
    EXPECT_NEAR(silent.LargestMs(), 80, 1e-6);
}

TEST(Pty, CarriesEveryByteValueUnchanged) {
    Pty pty;
    std::string error;
    ASSERT_TRUE(pty.Open(error)) << error;
    std::uint8_t bytes[256];
    for (int i = 0; i < 256; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i);
    }
    ASSERT_EQ(write(pty.master, bytes, sizeof bytes), 256);
    std::uint8_t got[256];
    std::size_t have = 0;
    pollfd p{pty.slave, POLLIN, 0};
    while (have < sizeof got && poll(&p, 1, 2000) > 0) {
        const ssize_t n = read(pty.slave, got + have, sizeof got - have);
        ASSERT_GT(n, 0);
        have += static_cast<std::size_t>(n);
    }
    ASSERT_EQ(have, 256u);
    EXPECT_EQ(0, memcmp(bytes, got, 256));
    pty.Close();
}

TEST(Contender, RunsInItsFolderAndStops) {
    std::string error;
    const std::string folder = MakeTempFolder(error);
    ASSERT_FALSE(folder.empty()) << error;
    Contender c;
    ASSERT_TRUE(c.Start("sh -c 'pwd; touch here.txt; exec sleep 30'", folder, error)) << error;
    EXPECT_TRUE(c.Alive());
    for (int i = 0; i < 100 && c.LogTail(100).empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_NE(c.LogTail(1000).find(folder), std::string::npos);
    EXPECT_EQ(access((folder + "/here.txt").c_str(), F_OK), 0);
    c.Stop();
    EXPECT_FALSE(c.Alive());
    RemoveTree(folder);
    EXPECT_NE(access(folder.c_str(), F_OK), 0);
}

// A bridge inside the test, between the pty's slave and a connection to the rig's server, with
// a fault of our choice applied to the bytes of both directions.
class TestBridge {
public:
    using Fault = std::function<void(std::string&, std::uint64_t offset)>;

    TestBridge(int slave, std::uint16_t port, Fault fault) : slave_(slave), fault_(fault) {
        sock_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(port);
        connected_ = connect(sock_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        thread_ = std::thread([this] { Run(); });
    }
    ~TestBridge() {
        stop_ = true;
        thread_.join();
        close(sock_);
    }
    bool Connected() const { return connected_; }

private:
    void Run() {
        std::uint64_t offsets[2] = {0, 0};
        while (!stop_) {
            pollfd fds[2] = {{slave_, POLLIN, 0}, {sock_, POLLIN, 0}};
            if (poll(fds, 2, 20) <= 0) {
                continue;
            }
            for (int i = 0; i < 2; ++i) {
                if (!(fds[i].revents & POLLIN)) {
                    continue;
                }
                char buf[4096];
                const ssize_t n = read(fds[i].fd, buf, sizeof buf);
                if (n <= 0) {
                    return;
                }
                std::string block(buf, static_cast<std::size_t>(n));
                const std::uint64_t at = offsets[i];
                offsets[i] += block.size();
                fault_(block, at);
                const int to = i == 0 ? sock_ : slave_;
                for (std::size_t done = 0; done < block.size();) {
                    const ssize_t w = write(to, block.data() + done, block.size() - done);
                    if (w <= 0) {
                        return;
                    }
                    done += static_cast<std::size_t>(w);
                }
            }
        }
    }

    int slave_;
    int sock_ = -1;
    bool connected_ = false;
    Fault fault_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

struct PhaseFixture {
    Pty pty;
    Server server;
    Contender stand; // any live process will do for the CPU figures
    std::string folder;

    PhaseFixture() {
        std::string error;
        folder = MakeTempFolder(error);
        EXPECT_TRUE(pty.Open(error)) << error;
        EXPECT_TRUE(server.Listen(error)) << error;
        EXPECT_TRUE(stand.Start("sleep 60", folder, error)) << error;
    }
    ~PhaseFixture() {
        stand.Stop();
        server.Close();
        pty.Close();
        RemoveTree(folder);
    }
    PhaseResult Run(Direction d, TestBridge::Fault fault, Streams& streams, double seconds = 1) {
        TestBridge bridge(pty.slave, server.port, fault);
        EXPECT_TRUE(bridge.Connected());
        EXPECT_TRUE(server.Accept(Clock::now() + std::chrono::seconds(5)));
        PhasePlan plan;
        plan.direction = d;
        plan.seconds = seconds;
        plan.quietSeconds = 0.5;
        return RunPhase(plan, pty, server, streams, stand);
    }
};

TEST(RunPhase, AFaithfulBridgeDeliversEverythingAtLineRateInBothDirections) {
    PhaseFixture f;
    Streams streams;
    for (Direction d : {Direction::SerialToTcp, Direction::TcpToSerial}) {
        const PhaseResult r = f.Run(
            d, [](std::string&, std::uint64_t) {}, streams);
        // One second at 11,520 bytes/s, in chunks of 64 (the first chunk goes out at once).
        EXPECT_NEAR(static_cast<double>(r.sent), kLineRate, 2 * kChunk) << DirectionName(d);
        EXPECT_EQ(r.delivered, r.sent);
        EXPECT_EQ(r.lost + r.altered + r.extra + r.stray, 0u);
        EXPECT_GE(r.latencyMs.size(), r.sent / kChunk - 1);
        EXPECT_LT(Percentile(r.latencyMs, 0.5), 100.0);
        EXPECT_FALSE(r.contenderGone);
    }
    EXPECT_GT(streams.serialToTcpOffset, 0u);
    EXPECT_GT(streams.tcpToSerialOffset, 0u);
}

TEST(RunPhase, BytesDroppedOnTheWayCountAsLostAndAChangedByteAsAltered) {
    PhaseFixture f;
    Streams streams;
    // Drops stream bytes 2000 to 2299 and flips byte 5000, wherever the blocks fall.
    auto fault = [](std::string& block, std::uint64_t at) {
        std::string kept;
        for (std::size_t i = 0; i < block.size(); ++i) {
            const std::uint64_t pos = at + i;
            if (pos >= 2000 && pos < 2300) {
                continue;
            }
            kept.push_back(pos == 5000 ? static_cast<char>(block[i] ^ 0x55) : block[i]);
        }
        block = kept;
    };
    const PhaseResult r = f.Run(Direction::TcpToSerial, fault, streams);
    EXPECT_EQ(r.lost, 300u);
    EXPECT_EQ(r.altered, 1u);
    EXPECT_EQ(r.delivered, r.sent - 301);
}

TEST(RunPhase, AnUnpacedPhaseKeepsLittleInFlightAndMeasuresTheRate) {
    PhaseFixture f;
    Streams streams;
    TestBridge bridge(f.pty.slave, f.server.port, [](std::string&, std::uint64_t) {});
    ASSERT_TRUE(f.server.Accept(Clock::now() + std::chrono::seconds(5)));
    PhasePlan plan;
    plan.direction = Direction::TcpToSerial;
    plan.paced = false;
    plan.seconds = 0.5;
    plan.quietSeconds = 0.5;
    const PhaseResult r = RunPhase(plan, f.pty, f.server, streams, f.stand);
    EXPECT_GT(r.sent, 10 * kLineRate); // far beyond the line rate
    EXPECT_EQ(r.delivered, r.sent);
    EXPECT_GT(r.deliveredWhileSending, 0u);
    EXPECT_EQ(r.lost + r.altered, 0u);
}

TEST(RunPhase, ABridgeThatHangsUpEndsThePhase) {
    PhaseFixture f;
    Streams streams;
    const auto start = Clock::now();
    PhaseResult r;
    {
        TestBridge bridge(f.pty.slave, f.server.port, [](std::string&, std::uint64_t) {});
        ASSERT_TRUE(f.server.Accept(Clock::now() + std::chrono::seconds(5)));
    } // the bridge closes its connection
    PhasePlan plan;
    plan.direction = Direction::SerialToTcp;
    plan.seconds = 5;
    r = RunPhase(plan, f.pty, f.server, streams, f.stand);
    EXPECT_TRUE(r.connectionClosed);
    EXPECT_LT(Seconds(Clock::now() - start), 4);
}

} // namespace
} // namespace rig
