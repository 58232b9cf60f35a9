// The server connection without a window, in the polled and the fast mode: the test's loop hands
// it its timers and watches, a server on loopback is at the other end.
#include "app/platform/Clock.h"
#include "app/side/NetworkSide.h"
#include "side/FakeSideHost.h"
#include "support/LoopbackServer.h"
#include "support/Pattern.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace {

using namespace std::chrono_literals;
using testing_support::FakeSideHost;
using testing_support::LoopbackServer;
using testing_support::Pattern;
using testing_support::SameBytes;
using testing_support::WaitUntil;

class ServerSideTest : public ::testing::TestWithParam<bool> {
protected:
    ServerSideTest() {
        EXPECT_EQ(sock::WSAStartup(), 0);
        NetworkSideSettings settings;
        settings.fast = GetParam();
        side_ = CNetworkSide::Make(host_, settings, {sock_, connected_});
        host_.side = side_.get();
    }
    ~ServerSideTest() override {
        if (side_->Up())
            side_->Close(false);
    }

    bool Open(LoopbackServer& server) {
        return side_->Open("127.0.0.1", std::to_string(server.Port())) && server.Accept();
    }
    // What the server gets, read while the loop turns, until it has `count` bytes.
    std::string ServerGets(LoopbackServer& server, std::size_t count) {
        std::string got;
        host_.TurnUntil(
            [&] {
                got += server.Receive(count - got.size(), 1ms);
                return got.size() >= count;
            },
            10s);
        return got;
    }
    // Blocks of the device until more than the system takes while the server does not read: the
    // rest waits in the backlog. Returns all that was sent.
    std::string FillBacklog() {
        std::string up;
        while (side_->Backlog()->Waiting() == 0 && up.size() < (16u << 20)) {
            const std::string block = Pattern(up.size(), 1u << 20);
            EXPECT_EQ(side_->FromDevice(block.data(), block.size()), CNetworkSide::Sent::sent);
            up += block;
        }
        EXPECT_GT(side_->Backlog()->Waiting(), 0u);
        return up;
    }
    CNetworkSide::Attempt RetryUntilDecided(std::string& why) {
        CNetworkSide::Attempt attempt = CNetworkSide::Attempt::pending;
        WaitUntil(
            [&] {
                attempt = side_->Retry(GetTickCount64(), true, why);
                return attempt != CNetworkSide::Attempt::pending;
            },
            5s);
        return attempt;
    }

    FakeSideHost host_;
    sock::SOCKET sock_ = sock::INVALID_SOCKET;
    std::uint8_t connected_ = 0;
    std::unique_ptr<CNetworkSide> side_;
};

TEST_P(ServerSideTest, CarriesBothWaysUntilTheServerCloses) {
    LoopbackServer server;
    ASSERT_TRUE(Open(server));
    EXPECT_TRUE(side_->Up());
    EXPECT_EQ(host_.status, "已连接服务器");
    EXPECT_NE(sock_, sock::INVALID_SOCKET);
    EXPECT_EQ(connected_, 1);
    EXPECT_TRUE(GetParam() ? host_.IsWatching(WATCH_TCP) : host_.IsTimerRunning(TIMER_TCP));

    // What waits in the backlog goes out as the server reads, with nothing else to move it along.
    const std::string up = FillBacklog();
    EXPECT_TRUE(SameBytes(ServerGets(server, up.size()), up));

    // The server's last bytes reach the device before the news that it went, on which the
    // window closes the link.
    host_.onDropped = [&] { side_->Close(false); };
    const std::string down = Pattern(7, 3 * RECV_BUFFER_SIZE + 100);
    ASSERT_TRUE(server.Send(down));
    server.CloseClient();
    ASSERT_TRUE(host_.TurnUntil([&] { return !host_.drops.empty(); }));
    EXPECT_TRUE(SameBytes(host_.device, down));
    EXPECT_EQ(host_.drops.size(), 1u);
    EXPECT_EQ(host_.drops[0].second, CReconnectPlan::End::serverClosed);
    EXPECT_EQ(host_.status, "已断开服务器");
    EXPECT_EQ(sock_, sock::INVALID_SOCKET);
    EXPECT_EQ(connected_, 0);
    EXPECT_TRUE(host_.watches.empty());
    EXPECT_TRUE(host_.timers.empty() && host_.oneShots.empty());
}

TEST_P(ServerSideTest, CloseHandsOverWhatWaitsAndEndsTheConnection) {
    LoopbackServer server;
    ASSERT_TRUE(Open(server));
    ASSERT_EQ(side_->FromDevice("last words", 10), CNetworkSide::Sent::sent);
    side_->Close(false);
    EXPECT_EQ(host_.status, "已断开服务器");
    EXPECT_EQ(sock_, sock::INVALID_SOCKET);
    EXPECT_EQ(connected_, 0);
    EXPECT_FALSE(side_->Up());
    EXPECT_EQ(server.Receive(10), "last words");
    EXPECT_TRUE(server.WaitClientClosed());
    EXPECT_TRUE(host_.watches.empty());
    EXPECT_TRUE(host_.timers.empty());
}

TEST_P(ServerSideTest, NoServerIsToldAndItsRetryFails) {
    std::uint16_t port = 0;
    {
        LoopbackServer gone;
        port = gone.Port();
    }
    EXPECT_FALSE(side_->Open("127.0.0.1", std::to_string(port)));
    EXPECT_EQ(host_.status, "服务器不存在");
    EXPECT_NE(host_.tip.find(std::to_string(port)), std::string::npos) << host_.tip;
    EXPECT_EQ(sock_, sock::INVALID_SOCKET);
    EXPECT_EQ(connected_, 0);
    EXPECT_FALSE(side_->Up());
    EXPECT_EQ(side_->FromDevice("xy", 2), CNetworkSide::Sent::notConnected);

    std::string why;
    EXPECT_EQ(RetryUntilDecided(why), CNetworkSide::Attempt::failed);
    EXPECT_NE(why.find(std::to_string(port)), std::string::npos) << why;
    EXPECT_FALSE(side_->Up());
}

TEST_P(ServerSideTest, RetryDeliversWhatWasHeldBeforeAnythingNewer) {
    LoopbackServer server;
    ASSERT_TRUE(Open(server));
    host_.onDropped = [&] {
        std::size_t resent = 0, lost = 0;
        side_->Drop(resent, lost);
    };
    server.CloseClient();
    ASSERT_TRUE(host_.TurnUntil([&] { return !host_.drops.empty(); }));
    EXPECT_FALSE(side_->Up());
    EXPECT_EQ(side_->FromDevice("new", 3), CNetworkSide::Sent::notConnected);
    std::size_t wire = 0;
    EXPECT_TRUE(side_->HoldForServer("held ", 5, wire));
    EXPECT_EQ(wire, 5u);
    EXPECT_TRUE(side_->HoldForServer("while down; ", 12, wire));

    std::string why;
    ASSERT_EQ(RetryUntilDecided(why), CNetworkSide::Attempt::up) << why;
    ASSERT_TRUE(server.Accept());
    EXPECT_TRUE(side_->Up());
    EXPECT_EQ(connected_, 1);
    EXPECT_EQ(host_.status, "已连接服务器");
    ASSERT_EQ(side_->FromDevice("then new", 8), CNetworkSide::Sent::sent);
    EXPECT_EQ(ServerGets(server, 25), "held while down; then new");

    const std::string down = "back again";
    ASSERT_TRUE(server.Send(down));
    ASSERT_TRUE(host_.TurnUntil([&] { return host_.device == down; })) << host_.device;
}

// The server is left unread while the device has no room: its bytes stay in TCP, none is lost,
// and they come in order once there is room again. The other way goes on meanwhile.
TEST_P(ServerSideTest, LeavesTheServerUnreadWhileTheDeviceIsFull) {
    LoopbackServer server;
    ASSERT_TRUE(Open(server));
    host_.room = false;
    const std::string down = Pattern(3, 3 * RECV_BUFFER_SIZE + 100);
    ASSERT_TRUE(server.Send(down));
    ASSERT_EQ(sock::select(sock_, 5, 0), 1);
    for (int i = 0; i < 20; ++i)
        host_.Turn();
    EXPECT_EQ(host_.device, "");
    EXPECT_EQ(sock::select(sock_, 0, 0), 1) << "the bytes were taken from the socket";
    if (GetParam()) {
        EXPECT_GT(host_.holds, 0);
        EXPECT_TRUE(side_->ReadingHeld());
        EXPECT_FALSE(host_.IsWatching(WATCH_TCP));
    }
    const std::string up = FillBacklog();
    EXPECT_TRUE(SameBytes(ServerGets(server, up.size()), up));

    host_.room = true;
    side_->ResumeReading();
    ASSERT_TRUE(host_.TurnUntil([&] { return host_.device.size() >= down.size(); }));
    EXPECT_TRUE(SameBytes(host_.device, down));
    EXPECT_EQ(GetParam(), host_.IsWatching(WATCH_TCP));
}

// A server that comes back while the device is still full is not read until there is room, and
// in the fast mode not watched either: a readable socket that is left unread would wake the loop
// at every turn.
TEST_P(ServerSideTest, AComebackWhileTheDeviceIsFullWaitsForRoom) {
    if (!GetParam())
        GTEST_SKIP() << "polled, the server is simply not read";
    LoopbackServer server;
    ASSERT_TRUE(Open(server));
    host_.room = false;
    ASSERT_TRUE(server.Send("unread"));
    ASSERT_TRUE(host_.TurnUntil([&] { return side_->ReadingHeld(); }));
    std::size_t resent = 0, lost = 0;
    side_->Drop(resent, lost); // the path died meanwhile

    std::string why;
    ASSERT_EQ(RetryUntilDecided(why), CNetworkSide::Attempt::up) << why;
    ASSERT_TRUE(server.Accept());
    ASSERT_TRUE(server.Send("while full"));
    ASSERT_EQ(sock::select(sock_, 5, 0), 1);
    const int holds = host_.holds;
    for (int i = 0; i < 20; ++i)
        host_.Turn();
    EXPECT_EQ(host_.device, "");
    EXPECT_FALSE(host_.IsWatching(WATCH_TCP));
    EXPECT_LE(host_.holds - holds, 1) << "woken at every turn for a socket it leaves unread";

    host_.room = true;
    side_->ResumeReading();
    EXPECT_TRUE(host_.TurnUntil([&] { return host_.device == "while full"; })) << host_.device;
}

INSTANTIATE_TEST_SUITE_P(Modes, ServerSideTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Fast" : "Polled"; });

} // namespace
