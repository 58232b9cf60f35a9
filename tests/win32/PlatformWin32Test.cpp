// The stand-ins on Windows' own services, under Wine: Winsock behind the socket layer with its
// errors read as the shared code reads them, the send backlog on a socket whose peer stops
// reading, the log's appends and the profile writer's replace.
#include "app/bridge/SendBacklog.h"
#include "app/linkerrors/LinkErrors.h"
#include "app/platform/Clock.h"
#include "app/platform/File.h"
#include "app/platform/Profile.h"
#include "app/platform/Socket.h"
#include "support/DeadPeerOptions.h"
#include "support/FileText.h"
#include "support/LoopbackServer.h"
#include "support/SocketAddress.h"
#include "support/WaitUntil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing_support::LoopbackServer;
using testing_support::SocketAddress;
using testing_support::WaitUntil;

sock::SOCKET Connected(std::uint16_t port) {
    sock::SOCKET s = sock::socket(sock::AF_INET, sock::SOCK_STREAM, 0);
    auto a = SocketAddress("127.0.0.1", port);
    if (s != sock::INVALID_SOCKET && sock::connect(s, &a, sizeof a) != 0) {
        sock::closesocket(s);
        s = sock::INVALID_SOCKET;
    }
    return s;
}

fs::path FreshDir(const char* what) {
    fs::path dir = fs::temp_directory_path() / (what + std::to_string(std::random_device{}()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

TEST(Win32Socket, ConnectOutcomesReadAsTheReasonsExpect) {
    ASSERT_EQ(sock::WSAStartup(), 0);
    LoopbackServer server;
    ASSERT_NE(server.Port(), 0);
    sock::SOCKET s = Connected(server.Port());
    ASSERT_NE(s, sock::INVALID_SOCKET);
    ASSERT_TRUE(server.Accept());
    EXPECT_EQ(sock::closesocket(s), 0);

    struct Case {
        const char* ip;
        std::uint16_t port;
        int error;
    } refused[] = {{"0.0.0.0", server.Port(), EADDRNOTAVAIL}, {"127.0.0.1", 0, EADDRNOTAVAIL}};
    for (const Case& c : refused) {
        s = sock::socket(sock::AF_INET, sock::SOCK_STREAM, 0);
        auto a = SocketAddress(c.ip, c.port);
        EXPECT_EQ(sock::connect(s, &a, sizeof a), sock::SOCKET_ERROR);
        EXPECT_EQ(sock::WSAGetLastError(), c.error);
        sock::closesocket(s);
    }

    // A port nobody listens on: Winsock's 10061 reaches the reasons as "connection refused".
    std::uint16_t closedPort;
    {
        LoopbackServer gone;
        closedPort = gone.Port();
    }
    s = sock::socket(sock::AF_INET, sock::SOCK_STREAM, 0);
    auto a = SocketAddress("127.0.0.1", closedPort);
    EXPECT_EQ(sock::connect(s, &a, sizeof a), sock::SOCKET_ERROR);
    const int error = sock::WSAGetLastError();
    EXPECT_EQ(error, ECONNREFUSED);
    EXPECT_EQ(DescribeConnectFailure("127.0.0.1", closedPort, error),
              "127.0.0.1:" + std::to_string(closedPort) + ": connection refused");
    sock::closesocket(s);
    EXPECT_EQ(sock::closesocket(sock::INVALID_SOCKET), sock::SOCKET_ERROR);
    EXPECT_EQ(sock::select(sock::INVALID_SOCKET, 0, 50), sock::SOCKET_ERROR);
}

TEST(Win32Socket, ConnectWithoutWaitingAndTheDeadPeerOptionsWineTakes) {
    ASSERT_EQ(sock::WSAStartup(), 0);
    LoopbackServer server;
    std::uint16_t closedPort;
    {
        LoopbackServer gone;
        closedPort = gone.Port();
    }
    sock::SOCKET s = sock::socket(sock::AF_INET, sock::SOCK_STREAM, 0);
    // Wine takes keepalive but answers no question about its times, its probe count or the
    // longest wait for an acknowledgement (TCP_MAXRT): those read -1 here and are recorded, not
    // required. Nor does it give SIO_TCP_INFO, so that acknowledged() is -1 under Wine.
    const auto options = testing_support::DeadPeerOptionsOf(s);
    EXPECT_EQ(options.keepAlive, 1);
    RecordProperty("keepalive_idle_s", options.idleS);
    RecordProperty("keepalive_interval_s", options.intervalS);
    RecordProperty("keepalive_probes", options.probes);
    RecordProperty("max_retransmission_s", options.unacknowledgedS);
    EXPECT_EQ(testing_support::ConnectOutcome(s, "127.0.0.1", closedPort), ECONNREFUSED);
    sock::closesocket(s);
    s = sock::socket(sock::AF_INET, sock::SOCK_STREAM, 0);
    EXPECT_EQ(testing_support::ConnectOutcome(s, "0.0.0.0", server.Port()), EADDRNOTAVAIL);
    ASSERT_EQ(testing_support::ConnectOutcome(s, "127.0.0.1", server.Port()), 0);
    ASSERT_TRUE(server.Accept());
    char buf[4];
    EXPECT_EQ(sock::recv(s, buf, sizeof buf, 0), sock::SOCKET_ERROR); // still non-blocking
    EXPECT_EQ(sock::WSAGetLastError(), EWOULDBLOCK);
    EXPECT_EQ(sock::send(s, "hello", 5, 0), 5);
    EXPECT_EQ(server.Receive(5), "hello");
    // Where the system tells (SIO_TCP_INFO), an idle connection has all its bytes acknowledged.
    std::int64_t acknowledged = -1;
    WaitUntil([&] { return (acknowledged = sock::acknowledged(s)) == 5 || acknowledged < 0; }, 5s);
    EXPECT_TRUE(acknowledged == 5 || acknowledged == -1) << acknowledged;
    RecordProperty("acknowledged_when_idle", static_cast<int>(acknowledged));
    sock::closesocket(s);
    EXPECT_EQ(sock::acknowledged(sock::INVALID_SOCKET), -1);
}

TEST(Win32Socket, ReceiveEndReadsAsTheServerClosing_WineOnLoopbackCannotReset) {
    ASSERT_EQ(sock::WSAStartup(), 0);
    LoopbackServer server;
    sock::SOCKET s = Connected(server.Port());
    ASSERT_TRUE(server.Accept());
    EXPECT_EQ(sock::select(s, 0, 50), 0);
    ASSERT_TRUE(server.Send("ab"));
    ASSERT_TRUE(WaitUntil([&] { return sock::select(s, 0, 10) == 1; }, 5s));
    char buf[8];
    EXPECT_EQ(sock::recv(s, buf, sizeof buf, 0), 2);

    server.CloseClient();
    ASSERT_TRUE(WaitUntil([&] { return sock::select(s, 0, 10) == 1; }, 5s));
    EXPECT_EQ(sock::recv(s, buf, sizeof buf, 0), 0);
    EXPECT_EQ(DescribeReceiveFailure(0), "the server closed the connection");
    sock::closesocket(s);

    // Windows resets a connection that its peer closes with a zero linger time; Wine's loopback
    // closes it in order instead, so the reset reads as the end of the stream here. Either way the
    // receive ends the link with a reason; the reset's reason is checked against its code.
    s = Connected(server.Port());
    ASSERT_TRUE(server.Accept());
    server.ResetClient();
    ASSERT_TRUE(WaitUntil([&] { return sock::select(s, 0, 10) == 1; }, 5s));
    const int n = sock::recv(s, buf, sizeof buf, 0);
    EXPECT_TRUE(n == 0 || (n == sock::SOCKET_ERROR && sock::WSAGetLastError() == ECONNRESET)) << n;
    RecordProperty("receive_after_reset", n);
    EXPECT_EQ(DescribeReceiveFailure(ECONNRESET), "the server reset the connection");
    sock::closesocket(s);
}

TEST(Win32Socket, BacklogKeepsOrderWhileTheServerStallsAndGoesOutWhenItReads) {
    ASSERT_EQ(sock::WSAStartup(), 0);
    LoopbackServer server;
    sock::SOCKET s = Connected(server.Port());
    ASSERT_TRUE(server.Accept());
    std::uint32_t nonBlocking = 1;
    ASSERT_EQ(sock::ioctlsocket(s, sock::FIONBIO, &nonBlocking), 0);

    // Blocks of a counting stream until the socket stops taking them and bytes wait.
    // No send waits for room: the connection takes what fits and the rest waits here (a send
    // that waited would freeze the window at every block).
    CSendBacklog backlog(64u << 20);
    std::string sent;
    std::string block(64 << 10, '\0');
    auto slowest = std::chrono::steady_clock::duration::zero();
    for (int i = 0; i < 2000 && backlog.Waiting() < 3 * block.size(); ++i) {
        for (std::size_t j = 0; j < block.size(); ++j)
            block[j] = static_cast<char>((sent.size() + j) * 13 / 7);
        const auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(backlog.Send(s, block.data(), block.size()));
        slowest = std::max(slowest, std::chrono::steady_clock::now() - start);
        sent += block;
    }
    ASSERT_GT(backlog.Waiting(), 0u) << "the socket took " << sent.size() << " bytes";
    EXPECT_LT(slowest, 250ms) << "a send waited for room instead of returning";
    // A block that would pass the bound is refused whole and nothing of it waits.
    backlog.SetLimit(backlog.Waiting() + 10);
    EXPECT_FALSE(backlog.Send(s, block.data(), 11));

    std::string got;
    ASSERT_TRUE(WaitUntil(
        [&] {
            got += server.Receive(sent.size() - got.size(), 50ms);
            EXPECT_TRUE(backlog.Flush(s));
            return got.size() == sent.size();
        },
        20s))
        << got.size() << " of " << sent.size() << " bytes, " << backlog.Waiting() << " waiting";
    EXPECT_TRUE(got == sent) << "the stream came out changed or out of order";
    EXPECT_EQ(backlog.Waiting(), 0u);

    // The server goes away: a later flush fails with the error kept, the bytes stay.
    server.ResetClient();
    ASSERT_TRUE(WaitUntil(
        [&] {
            backlog.Send(s, "zz", 2);
            return !backlog.Flush(s);
        },
        5s));
    EXPECT_NE(backlog.LastError(), 0);
    EXPECT_GT(backlog.Waiting(), 0u);
    sock::closesocket(s);
}

TEST(Win32File, LogAppendsNeverCutAndFailuresAreReported) {
    const fs::path dir = FreshDir("varnel-log-");
    const std::string name = (dir / "2026-12-06.log").string();
    EXPECT_TRUE(AppendToFile(name.c_str(), "one\r\n", 5));
    EXPECT_TRUE(AppendToFile(name.c_str(), "two\r\n", 5));
    EXPECT_EQ(testing_support::ReadFile(name), "one\r\ntwo\r\n");
    EXPECT_FALSE(AppendToFile((dir / "missing" / "x.log").string().c_str(), "a", 1));
    EXPECT_FALSE(AppendToFile(dir.string().c_str(), "a", 1)) << "a folder is no log";
    fs::remove_all(dir);

    SYSTEMTIME t{};
    GetLocalTime(&t);
    EXPECT_GE(t.wYear, 2025);
    EXPECT_TRUE(t.wMonth >= 1 && t.wMonth <= 12 && t.wDay >= 1 && t.wDay <= 31);
}

TEST(Win32Profile, ReplaceLeavesNoTemporaryAndAReadOnlyFileIsKept) {
    const fs::path dir = FreshDir("varnel-profile-");
    const std::string file = (dir / "VarnelConfig.ini").string();
    std::ofstream(file, std::ios::binary) << "[A]\nb=1\n";
    ASSERT_TRUE(WritePrivateProfileStringA("A", "c", "2", file.c_str()));
    EXPECT_EQ(testing_support::ReadFile(file), "[A]\nb=1\nc=2\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);

    // A read-only settings file is not replaced, and nothing is left next to it.
    fs::permissions(file, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    EXPECT_FALSE(WritePrivateProfileStringA("A", "c", "3", file.c_str()));
    EXPECT_EQ(testing_support::ReadFile(file), "[A]\nb=1\nc=2\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
    fs::permissions(file, fs::perms::owner_write, fs::perm_options::add);

    // A folder where the file should be reads as missing and is not written.
    const std::string folder = (dir / "Folder.ini").string();
    fs::create_directories(folder);
    EXPECT_EQ(GetPrivateProfileIntA("A", "b", 7, folder.c_str()), 7);
    EXPECT_FALSE(WritePrivateProfileStringA("A", "b", "1", folder.c_str()));
    fs::remove_all(dir);
}

} // namespace
