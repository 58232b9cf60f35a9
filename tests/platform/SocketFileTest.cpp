#include "app/platform/Clock.h"
#include "app/platform/File.h"
#include "app/platform/Socket.h"
#include "app/platform/TestSeams.h"
#include "support/DeadPeerOptions.h"
#include "support/Emulated.h"
#include "support/LoopbackServer.h"
#include "support/SocketAddress.h"
#include "support/WaitUntil.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using testing_support::kEmulated;
using testing_support::SocketAddress;

TEST(Socket, StartupSeamAndConnectOutcomes) {
    EXPECT_EQ(sock::WSAStartup(), 0);
    sock::SetStartupFailureForTest(10091);
    EXPECT_EQ(sock::WSAStartup(), 10091);
    sock::SetStartupFailureForTest(0);

    testing_support::LoopbackServer listener;
    struct Case {
        const char* ip;
        std::uint16_t port;
        bool ok;
    } cases[] = {
        {"127.0.0.1", listener.Port(), true},
        {"0.0.0.0", listener.Port(), false}, // unspecified address is no server
        {"127.0.0.1", 0, false},
    };
    for (const Case& c : cases) {
        sock::SOCKET s = sock::socket(sock::AF_INET, sock::SOCK_STREAM, 0);
        ASSERT_NE(s, sock::INVALID_SOCKET);
        auto a = SocketAddress(c.ip, c.port);
        EXPECT_EQ(sock::connect(s, &a, sizeof a) == 0, c.ok) << c.ip << ":" << c.port;
        EXPECT_EQ(sock::closesocket(s), 0);
    }

    // Refused: a port that was free a moment ago.
    std::uint16_t closedPort;
    {
        testing_support::LoopbackServer gone;
        closedPort = gone.Port();
    }
    sock::SOCKET s = sock::socket(sock::AF_INET, sock::SOCK_STREAM, 0);
    auto a = SocketAddress("127.0.0.1", closedPort);
    EXPECT_EQ(sock::connect(s, &a, sizeof a), sock::SOCKET_ERROR);
    sock::closesocket(s);

    EXPECT_EQ(sock::connect(sock::INVALID_SOCKET, &a, sizeof a), sock::SOCKET_ERROR);
    EXPECT_EQ(sock::closesocket(sock::INVALID_SOCKET), sock::SOCKET_ERROR);
    EXPECT_EQ(sock::select(sock::INVALID_SOCKET, 0, 50), sock::SOCKET_ERROR);
}

// A connection to `listener`, accepted.
void ConnectTo(testing_support::LoopbackServer& listener, sock::SOCKET& s) {
    ASSERT_EQ(sock::WSAStartup(), 0);
    s = sock::socket(sock::AF_INET, sock::SOCK_STREAM, 0);
    auto a = SocketAddress("127.0.0.1", listener.Port());
    ASSERT_EQ(sock::connect(s, &a, sizeof a), 0);
    ASSERT_TRUE(listener.Accept());
}

TEST(Socket, SelectRecvAndSendToAGonePeerOrOneThatNeverReads) {
    testing_support::LoopbackServer listener;
    sock::SOCKET s = sock::INVALID_SOCKET;
    ASSERT_NO_FATAL_FAILURE(ConnectTo(listener, s));

    EXPECT_EQ(sock::select(s, 0, 50), 0);
    ASSERT_TRUE(listener.Send("ab"));
    auto deadline = std::chrono::steady_clock::now() + 5s;
    while (sock::select(s, 0, 1000) == 0 && std::chrono::steady_clock::now() < deadline) {
    }
    char buf[8];
    EXPECT_EQ(sock::recv(s, buf, sizeof buf, 0), 2);

    // A peer that never reads: the send comes back short instead of blocking for ever.
    std::string block(1 << 20, 'x');
    long total = 0;
    for (int i = 0; i < 64; ++i) {
        int n = sock::send(s, block.data(), static_cast<int>(block.size()), 0);
        if (n != static_cast<int>(block.size())) {
            total = -1;
            break;
        }
        total += n;
    }
    EXPECT_EQ(total, -1) << "64 MiB went into a socket nobody reads";

    // The peer goes away: sends fail instead of ending the process, and recv sees the end.
    listener.CloseClient();
    deadline = std::chrono::steady_clock::now() + 5s;
    int rc = 0;
    while (rc != sock::SOCKET_ERROR && std::chrono::steady_clock::now() < deadline)
        rc = sock::send(s, "zz", 2, 0);
    EXPECT_EQ(rc, sock::SOCKET_ERROR);
    EXPECT_NE(sock::WSAGetLastError(), 0);
    sock::closesocket(s);
}

// What the peer acknowledged is the stream's bytes alone: the connection's set-up does not count,
// or a rewind after a cut would send one byte too few again.
TEST(Socket, ConnectWithoutWaitingFindsDeadPeersAndCountsWhatIsAcknowledged) {
    ASSERT_EQ(sock::WSAStartup(), 0);
    testing_support::LoopbackServer listener;
    std::uint16_t closedPort;
    {
        testing_support::LoopbackServer gone;
        closedPort = gone.Port();
    }
    struct Case {
        const char* ip;
        std::uint16_t port;
        int outcome;
    } cases[] = {
        {"127.0.0.1", listener.Port(), 0},
        {"127.0.0.1", closedPort, ECONNREFUSED},
        {"0.0.0.0", listener.Port(), EADDRNOTAVAIL}, // refused as connect refuses it
        {"127.0.0.1", 0, EADDRNOTAVAIL},
    };
    for (const Case& c : cases) {
        sock::SOCKET s = sock::socket(sock::AF_INET, sock::SOCK_STREAM, 0);
        ASSERT_NE(s, sock::INVALID_SOCKET);
        const auto options = testing_support::DeadPeerOptionsOf(s);
        EXPECT_EQ(options.keepAlive, 1);
        EXPECT_EQ(options.idleS, 10);
        EXPECT_EQ(options.intervalS, 5);
        EXPECT_EQ(options.probes, 3);
        EXPECT_EQ(options.unacknowledgedS, 30);
        EXPECT_EQ(testing_support::ConnectOutcome(s, c.ip, c.port), c.outcome)
            << c.ip << ":" << c.port;
        if (c.outcome == 0) {
            ASSERT_TRUE(listener.Accept());
            const bool counts = sock::acknowledged(s) >= 0 || !kEmulated;
            if (counts) {
                EXPECT_EQ(sock::acknowledged(s), 0); // the connection's set-up is not the stream's
            }
            char buf[4];
            EXPECT_EQ(sock::recv(s, buf, sizeof buf, 0), sock::SOCKET_ERROR); // still non-blocking
            EXPECT_EQ(sock::WSAGetLastError(), EWOULDBLOCK);
            std::uint32_t on = 1;
            EXPECT_EQ(sock::ioctlsocket(s, sock::FIONBIO, &on), 0);
            EXPECT_EQ(sock::send(s, "hello", 5, 0), 5);
            EXPECT_EQ(listener.Receive(5), "hello");
            if (counts) {
                EXPECT_TRUE(testing_support::WaitUntil([&] { return sock::acknowledged(s) == 5; },
                                                       std::chrono::seconds(5)));
            }
        }
        sock::closesocket(s);
    }
    EXPECT_EQ(sock::connect_result(sock::INVALID_SOCKET), sock::SOCKET_ERROR);
    EXPECT_EQ(sock::acknowledged(sock::INVALID_SOCKET), -1);
}

TEST(File, AppendCreatesKeepsAndReportsFailures) {
    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() / ("file-test-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::string name = (dir / "2026-12-06.log").string();
    EXPECT_TRUE(AppendToFile(name.c_str(), "one\r\n", 5));
    EXPECT_TRUE(AppendToFile(name.c_str(), "two\r\n", 5));
    std::ifstream in(name, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "one\r\ntwo\r\n");

    EXPECT_FALSE(AppendToFile((dir / "missing" / "x.log").string().c_str(), "a", 1));
    fs::create_symlink("/dev/full", dir / "full.log");
    EXPECT_FALSE(AppendToFile((dir / "full.log").string().c_str(), "a", 1));
    fs::remove_all(dir);
}

TEST(Clock, TestClockReplacesTheSystemClockUntilCleared) {
    SetClockForTest([] { return SYSTEMTIME{2026, 12, 0, 31, 23, 59, 59, 0}; });
    SYSTEMTIME t{};
    GetLocalTime(&t);
    EXPECT_EQ(t.wYear, 2026);
    EXPECT_EQ(t.wDay, 31);
    SetClockForTest(nullptr);
    GetLocalTime(&t);
    EXPECT_GE(t.wYear, 2025);
}

} // namespace
