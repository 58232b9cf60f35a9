// The listener without a window, in the polled and the fast mode: the test's loop hands it its
// timers and watches, clients on loopback come to it.
#include "app/side/NetworkSide.h"
#include "side/FakeSideHost.h"
#include "support/LoopbackClient.h"
#include "support/LoopbackServer.h"
#include "support/Pattern.h"
#include "support/SocketAddress.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace {

using namespace std::chrono_literals;
using testing_support::FakeSideHost;
using testing_support::Pattern;
using testing_support::SameBytes;
using testing_support::SocketAddress;
using testing_support::WaitUntil;

// A port on 127.0.0.1 that nobody holds now.
std::uint16_t FreePort() {
    const sock::SOCKET s = sock::socket(sock::AF_INET, sock::SOCK_STREAM, 0);
    const sock::sockaddr_in any = SocketAddress("127.0.0.1", 0);
    sock::sockaddr_in bound{};
    int length = sizeof bound;
    EXPECT_EQ(sock::bind(s, &any, sizeof any), 0);
    EXPECT_EQ(sock::getsockname(s, &bound, &length), 0);
    sock::closesocket(s);
    return sock::ntohs(bound.sin_port);
}

using Client = testing_support::LoopbackClient;

class ListenSideTest : public ::testing::TestWithParam<bool> {
protected:
    ListenSideTest() {
        EXPECT_EQ(sock::WSAStartup(), 0);
        NetworkSideSettings settings;
        settings.listen = true;
        settings.fast = GetParam();
        settings.clients.clients = 2;
        side_ = CNetworkSide::Make(host_, settings, {sock_, connected_});
        host_.side = side_.get();
    }
    ~ListenSideTest() override { side_->Close(false); }

    bool Open() {
        port_ = FreePort();
        return side_->Open("127.0.0.1", std::to_string(port_));
    }
    bool ClientsAre(int count) {
        const std::string status = "已连接 " + std::to_string(count) + " 个客户端";
        return host_.TurnUntil([&] { return host_.status == status; });
    }
    std::size_t EventsWith(const std::string& what) const {
        return static_cast<std::size_t>(
            std::count_if(host_.events.begin(), host_.events.end(),
                          [&](const std::string& line) { return line.find(what) != line.npos; }));
    }
    // The clients' watches the side keeps in the fast mode.
    std::size_t ClientWatches() const {
        return static_cast<std::size_t>(
            std::count_if(host_.watches.begin(), host_.watches.end(),
                          [](const auto& watch) { return watch.first >= WATCH_CLIENT; }));
    }

    FakeSideHost host_;
    sock::SOCKET sock_ = sock::INVALID_SOCKET;
    std::uint8_t connected_ = 0;
    std::unique_ptr<CNetworkSide> side_;
    std::uint16_t port_ = 0;
};

TEST_P(ListenSideTest, ServesTwoClientsBothWays) {
    ASSERT_TRUE(Open());
    EXPECT_TRUE(side_->Up());
    EXPECT_EQ(host_.status, "监听端口 " + std::to_string(port_));
    EXPECT_TRUE(host_.IsTimerRunning(TIMER_TCP));

    Client first(port_), second(port_);
    ASSERT_TRUE(ClientsAre(2)) << host_.status;
    EXPECT_EQ(EventsWith(" connected"), 2u);
    EXPECT_EQ(ClientWatches(), GetParam() ? 2u : 0u);

    const std::string up = Pattern(0, 5 * RECV_BUFFER_SIZE + 17);
    ASSERT_TRUE(first.Send(up));
    ASSERT_TRUE(host_.TurnUntil([&] { return host_.device.size() >= up.size(); }));
    EXPECT_TRUE(SameBytes(host_.device, up));

    const std::string down = Pattern(9, 100000);
    EXPECT_EQ(side_->FromDevice(down.data(), down.size()), CNetworkSide::Sent::sent);
    EXPECT_TRUE(host_.TurnUntil([&] {
        first.Read();
        second.Read();
        return first.got.size() >= down.size() && second.got.size() >= down.size();
    }));
    EXPECT_TRUE(SameBytes(first.got, down));
    EXPECT_TRUE(SameBytes(second.got, down));

    // One leaves: it is told, and the other is still served.
    second.Close();
    ASSERT_TRUE(ClientsAre(1)) << host_.status;
    EXPECT_EQ(EventsWith(" left: "), 1u);
    EXPECT_EQ(ClientWatches(), GetParam() ? 1u : 0u);
    ASSERT_TRUE(first.Send("still here"));
    ASSERT_TRUE(host_.TurnUntil([&] { return host_.device.size() >= up.size() + 10; }));
    EXPECT_EQ(host_.device.substr(up.size()), "still here");

    side_->Close(false);
    EXPECT_EQ(host_.status, "已停止监听");
    EXPECT_FALSE(side_->Up());
    EXPECT_TRUE(host_.timers.empty());
    EXPECT_EQ(ClientWatches(), 0u);
    EXPECT_TRUE(WaitUntil([&] { return !first.Read(); }, 5s)) << "the client is still connected";
}

TEST_P(ListenSideTest, TellsWhyItCannotListen) {
    EXPECT_FALSE(side_->Open("127.0.0.1", "abc"));
    EXPECT_EQ(host_.status, "监听参数错误");
    EXPECT_FALSE(side_->Up());

    testing_support::LoopbackServer taken;
    EXPECT_FALSE(side_->Open("127.0.0.1", std::to_string(taken.Port())));
    EXPECT_EQ(host_.status, "无法监听");
    EXPECT_NE(host_.tip.find(std::to_string(taken.Port())), std::string::npos) << host_.tip;
    EXPECT_FALSE(side_->Up());
    EXPECT_TRUE(host_.timers.empty());
}

// Clients are left unread while the device has no room: their bytes stay in TCP, none is lost,
// and they come in order once there is room again.
TEST_P(ListenSideTest, LeavesClientsUnreadWhileTheDeviceIsFull) {
    ASSERT_TRUE(Open());
    Client client(port_);
    ASSERT_TRUE(ClientsAre(1));
    host_.room = false;
    const std::string up = Pattern(5, 3 * RECV_BUFFER_SIZE + 100);
    ASSERT_TRUE(client.Send(up));
    for (int i = 0; i < 20; ++i)
        host_.Turn();
    EXPECT_EQ(host_.device, "");
    if (GetParam()) {
        EXPECT_GT(host_.holds, 0);
        EXPECT_TRUE(side_->ReadingHeld());
        EXPECT_EQ(ClientWatches(), 0u);
    }

    host_.room = true;
    side_->ResumeReading();
    ASSERT_TRUE(host_.TurnUntil([&] { return host_.device.size() >= up.size(); }));
    EXPECT_TRUE(SameBytes(host_.device, up));
    EXPECT_EQ(ClientWatches(), GetParam() ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Modes, ListenSideTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Fast" : "Polled"; });

} // namespace
