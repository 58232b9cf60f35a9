// Faults on the network side: servers that refuse, never answer, close, reset, flood, trickle
// single bytes or stop reading, and a path that dies without a word. Through each the window keeps
// handling its timers, the status lines tell the link state, and every block the bridge takes in
// reaches the other side whole.
#include "fault/FaultRig.h"
#include "fault/StuckServers.h"

#include <QElapsedTimer>

namespace fault {
namespace {

using testing_support::LoopbackServer;

class NetworkFaultTest : public FaultTest {
protected:
    // The device sends about a block per tick: the next 3000 bytes of the pattern once the
    // bridge has taken nearly all sent so far.
    void FeedDevice(std::uint64_t& sent) {
        if (static_cast<std::uint64_t>(g_nComBytes) + 3000 >= sent) {
            EXPECT_TRUE(device.Send(Pattern(sent, 3000)));
            sent += 3000;
        }
    }
    // Opens the link to a server that reads nothing and feeds the device until at least
    // `waiting` bytes wait in the backlog; returns what the device sent.
    std::uint64_t FillBacklog(SilentServer& silent, std::size_t waiting) {
        Set("Socket", "PORT", std::to_string(silent.Port()));
        Start();
        Press(IDC_BUTTON_OPEN);
        EXPECT_TRUE(silent.Accept(5s));
        ShrinkSendBuffer(g_sock);
        std::uint64_t sent = 0;
        EXPECT_TRUE(Until(
            [&] {
                FeedDevice(sent);
                return dlg->ServerBacklog()->Waiting() >= waiting;
            },
            60000))
            << "the socket never filled; " << g_nComBytes << " bytes taken";
        EXPECT_TRUE(Until([&] { return static_cast<std::uint64_t>(g_nComBytes) == sent; }));
        return sent;
    }
};

TEST_F(NetworkFaultTest, RefusedOrUnansweredConnectLeavesTheLinkDownAndTheWindowResponsive) {
    std::uint16_t refusing;
    {
        LoopbackServer gone;
        refusing = gone.Port();
    }
    Set("Socket", "PORT", std::to_string(refusing));
    Set("SYSTEM", "Single", "1");
    Start();

    // Refused: the answer comes at once; the serial half comes up alone by the "Single" rule
    // and its blocks are shown and counted although the send goes nowhere.
    QElapsedTimer click;
    click.start();
    Press(IDC_BUTTON_OPEN);
    EXPECT_LT(click.elapsed(), kResponsiveMs);
    EXPECT_EQ(dlg->m_strNetStatus, "服务器不存在");
    EXPECT_EQ(dlg->m_strComStatus, "串口COM3已打开");
    EXPECT_EQ(g_sock, sock::INVALID_SOCKET);
    EXPECT_FALSE(dlg->IsTimerRunning(TIMER_TCP));
    ASSERT_TRUE(device.Send("abc"));
    EXPECT_TRUE(Until([] { return g_nComBytes == 3; }));
    Watch(300ms);
    EXPECT_LT(ticks.LongestGapMs(), kResponsiveMs);
    Press(IDC_BUTTON_OPEN);
    EXPECT_EQ(dlg->m_strNetStatus, "已断开服务器");
    EXPECT_EQ(dlg->m_strComStatus, "串口已关闭");

    // No answer at all: the connect gives up after its cap instead of the system's minutes.
    StuckListener stuck;
    ASSERT_NE(stuck.Port(), 0);
    dlg->m_chkSingle.SetCheck(0);
    dlg->m_editPort.SetWindowText(std::to_string(stuck.Port()).c_str());
    click.restart();
    Press(IDC_BUTTON_OPEN);
    const qint64 stuckMs = click.elapsed();
    RecordProperty("unanswered_connect_ms", static_cast<int>(stuckMs));
    EXPECT_GE(stuckMs, sock::ConnectTimeoutMs() - 100);
    EXPECT_LE(stuckMs, sock::ConnectTimeoutMs() + 1000);
    EXPECT_EQ(dlg->m_strNetStatus, "服务器不存在");
    EXPECT_EQ(dlg->m_strComStatus, "串口已关闭");
    EXPECT_EQ(Caption(), "打开");

    // The window is live again, and a reachable server is taken at the next click.
    ticks.Start();
    Watch(300ms);
    EXPECT_LT(ticks.LongestGapMs(), kResponsiveMs);
    dlg->m_editPort.SetWindowText(std::to_string(server.Port()).c_str());
    Press(IDC_BUTTON_OPEN);
    ASSERT_TRUE(server.Accept(5s));
    EXPECT_EQ(dlg->m_strNetStatus, "已连接服务器");
    ASSERT_TRUE(server.Send("ok"));
    EXPECT_EQ(DeviceReceives(2), "ok");
}

TEST_F(NetworkFaultTest, ServerThatAcceptsAndClosesAtOnceTakesTheLinkDownEveryTime) {
    Start();
    int descriptors = 0; // counted after the first round, once the toolkit has opened its own
    for (int round = 0; round < 4; ++round) {
        if (round == 1)
            descriptors = testing_support::OpenDescriptorCount();
        SCOPED_TRACE(round);
        dlg->m_chkSingle.SetCheck(round == 3 ? 1 : 0);
        Press(IDC_BUTTON_OPEN);
        ASSERT_TRUE(server.Accept(5s));
        server.CloseClient();
        // The device talks meanwhile; whatever the bridge does with it, it must not trip.
        ASSERT_TRUE(device.Send("late"));
        ExpectLinkDown("已断开服务器");
        EXPECT_FALSE(dlg->IsTimerRunning(TIMER_COM));
        EXPECT_FALSE(dlg->IsTimerRunning(TIMER_TCP));
        device.Drain(20ms);
    }
    EXPECT_LT(ticks.LongestGapMs(), kResponsiveMs);
    EXPECT_EQ(testing_support::OpenDescriptorCount(), descriptors);
}

TEST_F(NetworkFaultTest, ServerThatClosesOrResetsInTheMiddleOfATransfer) {
    Start();
    std::int64_t before = 0;
    for (bool reset : {false, true}) {
        SCOPED_TRACE(reset ? "reset" : "orderly close");
        Press(IDC_BUTTON_OPEN);
        ASSERT_TRUE(server.Accept(5s));
        // The server sends a block and a half and goes, while the device is sending too.
        const std::string stream = Pattern(before, 5000);
        ASSERT_TRUE(server.Send(stream));
        ASSERT_TRUE(device.Send(Pattern(7, 2000)));
        if (reset)
            server.ResetClient();
        else
            server.CloseClient();

        ExpectLinkDown("已断开服务器");

        // What came before the end is taken in whole blocks, and reaches the device as it was.
        const std::string got = device.Drain(200ms);
        RecordProperty(reset ? "bytes_before_reset" : "bytes_before_close",
                       static_cast<int>(got.size()));
        EXPECT_EQ(static_cast<std::int64_t>(got.size()), g_nTcpBytes - before);
        EXPECT_EQ(got, stream.substr(0, got.size()));
        if (!reset) {
            EXPECT_EQ(got.size(), stream.size()); // data before an orderly end is never lost
        }
        before = g_nTcpBytes;
    }
    EXPECT_LT(ticks.LongestGapMs(), kResponsiveMs);

    // The bridge comes up again at the next click.
    Press(IDC_BUTTON_OPEN);
    ASSERT_TRUE(server.Accept(5s));
    device.Drain(20ms);
    ASSERT_TRUE(device.Send("again"));
    EXPECT_EQ(ServerReceives(5).substr(0, 5), "again");
}

TEST_F(NetworkFaultTest, ServerGoneAtTheReopenLeavesTheLinkDownUntilTheNextClick) {
    StartLinkedReopening();
    // The server sends a block and stops taking connections: the reconnect one second after
    // the block is refused.
    ASSERT_TRUE(server.Send("hi"));
    server.StopListening();
    EXPECT_EQ(DeviceReceives(2), "hi");
    ExpectLinkDown("服务器不存在");
    EXPECT_FALSE(dlg->IsTimerRunning(TIMER_COM));
    EXPECT_FALSE(dlg->IsTimerRunning(TIMER_TCP));
    // The reopen pause is the one long wait here.
    const qint64 longest = ticks.LongestGapMs();
    RecordProperty("reopen_longest_gap_ms", static_cast<int>(longest));
    EXPECT_LT(longest, 1000 + kResponsiveMs);
    ticks.Start();
    Watch(300ms);
    EXPECT_LT(ticks.LongestGapMs(), kResponsiveMs);
}

TEST_F(NetworkFaultTest, BacklogOverflowAtAReopenLeavesTheLinkDownWithItsReason) {
    StartLinkedReopening();
    dlg->ServerBacklog()->SetLimit(2048);
    // The server sends a block and reads nothing, while the device's bytes wait in the port:
    // forwarding them first, ahead of the block, passes the bound. The test holds the window's
    // thread until it runs the network poll itself, so that it is that poll which overflows.
    ASSERT_TRUE(device.Send(Pattern(0, 3000)));
    ASSERT_TRUE(testing_support::WaitUntil([&] { return dlg->SerialBytesHeld() == 3000; }, 5s));
    ASSERT_TRUE(server.Send("hi"));
    ASSERT_TRUE(testing_support::WaitUntil([] { return sock::select(g_sock, 0, 0) == 1; }, 5s));
    dlg->OnTimer(TIMER_TCP);

    // The overflow took the link down, and the reopen after the block does not bring it up.
    EXPECT_EQ(g_bTcpConnected, 0);
    EXPECT_EQ(dlg->m_strNetStatus, "已断开服务器");
    EXPECT_EQ(dlg->m_strComStatus, "串口已关闭");
    EXPECT_EQ(Caption(), "打开");
    EXPECT_EQ(server.Drain(), ""); // the block was refused whole
    EXPECT_FALSE(server.Accept(0ms)) << "the bridge connected again after the overflow";
    Watch(300ms);
    EXPECT_FALSE(dlg->IsTimerRunning(TIMER_TCP));
    EXPECT_FALSE(dlg->IsTimerRunning(TIMER_COM));
    EXPECT_EQ(g_nComBytes, 3000);
    EXPECT_EQ(dlg->GetDlgItem(IDC_STATIC_NETSTATUS)->GetToolTipText(),
              "127.0.0.1:" + std::to_string(server.Port()) +
                  ": the server stopped reading; 3000 bytes from the serial port could not be "
                  "delivered");
}

TEST_F(NetworkFaultTest, FloodOfFiftyMegabytesIsTakenBlockByBlockAndTheWindowKeepsTicking) {
    SetClockForTest([] { return SYSTEMTIME{2026, 12, 0, 6, 10, 14, 14, 0}; });
    Start();
    // Bring the network pane close to its bound, so that the flood also makes it drop entries.
    const std::string filler = Pattern(1 << 30, RECV_BUFFER_SIZE);
    while (dlg->m_strTcpData.size() + 20000 < PANE_TEXT_LIMIT) {
        dlg->ShowTrafficBlock(true, filler.data(), static_cast<int>(filler.size()));
        dlg->m_strTcpData += "\r\n";
    }
    dlg->UpdateData(false);
    const std::size_t filled = dlg->m_strTcpData.size();

    DeviceReader reader(device.Master());
    Press(IDC_BUTTON_OPEN);
    ASSERT_TRUE(server.Accept(5s));
    constexpr std::uint64_t kFlood = 50ull << 20;
    std::atomic<std::uint64_t> offered{0};
    std::thread flood([&] {
        constexpr std::size_t kChunk = 1 << 16;
        for (std::uint64_t at = 0; at < kFlood; at += kChunk) {
            if (!server.Send(Pattern(at, kChunk)))
                return; // the bridge closed the connection
            offered = at + kChunk;
        }
    });

    // Watch a stretch of the flood: one block per tick, every one of them whole.
    ticks.Start();
    const bool enough = Until([] { return g_nTcpBytes >= 40 * RECV_BUFFER_SIZE; }, 30000);
    const qint64 longest = ticks.LongestGapMs();
    const std::int64_t taken = g_nTcpBytes;
    Press(IDC_BUTTON_OPEN); // closing with data unread resets the connection: the flood ends
    flood.join();

    ASSERT_TRUE(enough) << "taken " << taken;
    RecordProperty("flood_longest_gap_ms", static_cast<int>(longest));
    EXPECT_LT(longest, kResponsiveMs);
    EXPECT_GT(offered.load(), static_cast<std::uint64_t>(taken));
    EXPECT_LT(dlg->m_strTcpData.size(), filled); // entries were dropped from the top
    EXPECT_TRUE(Until([&] { return reader.Size() >= static_cast<std::size_t>(taken); }));
    const std::string got = reader.Taken();
    EXPECT_EQ(got.size(), static_cast<std::size_t>(taken));
    EXPECT_TRUE(got == Pattern(0, got.size())) << "the device got altered bytes";
    EXPECT_EQ(dlg->m_strNetStatus, "已断开服务器");
    EXPECT_EQ(dlg->m_strComStatus, "串口已关闭");
}

TEST_F(NetworkFaultTest, ServerThatOnlySendsSingleBytesForwardsNothing) {
    SetClockForTest([] { return SYSTEMTIME{2026, 12, 0, 6, 10, 14, 14, 0}; });
    StartLinked();
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(server.Send(std::string(1, static_cast<char>('A' + i))));
        // Each byte must be alone: wait until the bridge took it off the socket and, in the fast
        // mode, the quiet gap after it ended its burst.
        ASSERT_TRUE(Until([&] {
            return sock::select(g_sock, 0, 0) == 0 && !dlg->IsTimerRunning(TIMER_TCP_QUIET);
        }));
    }
    Watch(250ms);
    EXPECT_EQ(device.Drain(50ms), "");
    EXPECT_EQ(g_nTcpBytes, 0);
    EXPECT_EQ(dlg->m_strTcpCount, "TCP: 0");
    EXPECT_TRUE(dlg->m_strTcpData.empty());
    EXPECT_EQ(LoggedEntries("2026-12-06.log", "orvan(TCP)"), 0u);
    EXPECT_EQ(dlg->m_strNetStatus, "已连接服务器");
    EXPECT_EQ(dlg->m_strComStatus, "串口COM3已打开");
    EXPECT_LT(ticks.LongestGapMs(), kResponsiveMs);
}

TEST_F(NetworkFaultTest, ServerThatStopsReadingGetsEveryByteOrTheLinkGoesDownWithTheCount) {
    SilentServer silent;
    ASSERT_NE(silent.Port(), 0);
    Set("Socket", "PORT", std::to_string(silent.Port()));
    Start();
    Press(IDC_BUTTON_OPEN);
    ASSERT_TRUE(silent.Accept(5s));
    ASSERT_EQ(dlg->m_strNetStatus, "已连接服务器");
    ShrinkSendBuffer(g_sock);

    // The device keeps sending, about a block per tick, while the server reads nothing, until
    // far more waits in the backlog than the socket buffers of both ends hold: enough that, as
    // the server reads it back, the bytes already sent are cut from its front while more wait.
    std::uint64_t sent = 0;
    auto feed = [&] { FeedDevice(sent); };
    ASSERT_TRUE(Until(
        [&] {
            feed();
            return dlg->ServerBacklog()->Waiting() >= 2 * SEND_BACKLOG_COMPACT_AT;
        },
        60000))
        << "the socket never filled; " << g_nComBytes << " bytes taken";
    RecordProperty("stopped_server_longest_gap_ms", static_cast<int>(ticks.LongestGapMs()));
    EXPECT_LT(ticks.LongestGapMs(), kResponsiveMs);
    EXPECT_TRUE(Until([&] { return static_cast<std::uint64_t>(g_nComBytes) == sent; }));
    EXPECT_EQ(dlg->m_strComCount, "COM: " + std::to_string(sent));

    // The server reads again: the device's stream arrives whole and in order.
    std::string got;
    EXPECT_TRUE(Until(
        [&] {
            got += silent.Read(1ms);
            return got.size() >= sent;
        },
        20000));
    EXPECT_EQ(got.size(), sent);
    EXPECT_TRUE(got == Pattern(0, sent)) << "the server got altered or reordered bytes";
    EXPECT_EQ(dlg->ServerBacklog()->Waiting(), 0u);

    // It stops reading for good: past the bound the link goes down, the tooltip says why and how
    // many bytes never got there, and what did get there is the stream without a gap.
    dlg->ServerBacklog()->SetLimit(64 << 10);
    ASSERT_TRUE(Until(
        [&] {
            if (g_bTcpConnected)
                feed();
            return dlg->m_strNetStatus == "已断开服务器";
        },
        60000));
    EXPECT_EQ(dlg->m_strComStatus, "串口已关闭");
    EXPECT_EQ(g_sock, sock::INVALID_SOCKET);
    EXPECT_LT(ticks.LongestGapMs(), kResponsiveMs);
    std::string rest;
    QElapsedTimer quiet;
    quiet.start();
    Until(
        [&] {
            if (std::string more = silent.Read(1ms); !more.empty()) {
                rest += more;
                quiet.restart();
            }
            return quiet.elapsed() >= 300;
        },
        10000);
    const std::uint64_t delivered = got.size() + rest.size();
    const std::string tip = dlg->GetDlgItem(IDC_STATIC_NETSTATUS)->GetToolTipText();
    EXPECT_NE(tip.find("the server stopped reading"), std::string::npos) << tip;
    EXPECT_NE(tip.find(std::to_string(g_nComBytes - static_cast<std::int64_t>(delivered)) +
                       " bytes from the serial port could not be delivered"),
              std::string::npos)
        << tip << "; delivered " << delivered << " of " << g_nComBytes;
    EXPECT_TRUE(rest == Pattern(got.size(), rest.size())) << "bytes were cut from the stream";
}

TEST_F(NetworkFaultTest, PathThatDiesSilentlyIsFoundAndTakesTheLinkDownAsTimedOut) {
    // A server in a namespace of the test's own; the far end of its path goes down while the
    // device streams. Nothing tells either end: keepalive and the wait for acknowledgements do.
    NamespacedServer far;
    ASSERT_NO_FATAL_FAILURE(StartLinkedTo(far));
    std::string got;
    std::uint64_t sent = 0;
    QElapsedTimer streaming;
    streaming.start();
    auto feed = [&] {
        if (DeviceBlockDue(streaming, sent)) {
            const std::string block = Pattern(sent, 64);
            if (device.Send(block))
                sent += block.size();
        }
        got += far.Take();
    };
    ASSERT_TRUE(Until(
        [&] {
            feed();
            return got.size() >= 1024;
        },
        10000));
    EXPECT_TRUE(got == Pattern(0, got.size()));
    ASSERT_TRUE(
        Until([&] { return sock::acknowledged(g_sock) >= std::int64_t(got.size()); }, 5000));

    ASSERT_TRUE(far.CutPath());
    ticks.Start(); // the cut itself holds up the test's thread, not the window's work
    QElapsedTimer cut;
    cut.start();
    std::int64_t acknowledged = 0;
    ASSERT_TRUE(Until(
        [&] {
            if (g_bTcpConnected) {
                feed();
                acknowledged = std::max(acknowledged, sock::acknowledged(g_sock));
            }
            return dlg->m_strNetStatus == "已断开服务器";
        },
        60000));
    RecordProperty("dead_path_found_ms", static_cast<int>(cut.elapsed()));
    // What went into the cut path was never acknowledged: the count stops where the far side's
    // bytes end.
    got += far.Take();
    EXPECT_EQ(acknowledged, std::int64_t(got.size()));
    const std::string tip = dlg->GetDlgItem(IDC_STATIC_NETSTATUS)->GetToolTipText();
    EXPECT_NE(tip.find("timed out"), std::string::npos) << tip;
    EXPECT_EQ(g_sock, sock::INVALID_SOCKET);
    EXPECT_LT(ticks.LongestGapMs(), kResponsiveMs);
}

// The end of the program without a window (CloseLinkForExit): the link closes as 关闭 closes it
// once what waits for the server went out, or when the time is up, telling what is left.
TEST_F(NetworkFaultTest, ClosingAtTheEndSendsWhatWaitsWhileTheServerReads) {
    SilentServer silent;
    ASSERT_NE(silent.Port(), 0);
    const std::uint64_t sent = FillBacklog(silent, SEND_BACKLOG_COMPACT_AT);
    // The server reads again, on a thread of its own, while the close waits.
    std::string got;
    std::thread server([&] {
        const auto end = std::chrono::steady_clock::now() + 20s;
        while (got.size() < sent && std::chrono::steady_clock::now() < end)
            got += silent.Read(10ms);
    });
    QElapsedTimer t;
    t.start();
    dlg->CloseLinkForExit(10000);
    server.join();
    EXPECT_LT(t.elapsed(), 10000);
    EXPECT_EQ(dlg->m_strNetStatus, "已断开服务器");
    EXPECT_EQ(dlg->m_strComStatus, "串口已关闭");
    EXPECT_EQ(dlg->GetDlgItem(IDC_STATIC_NETSTATUS)->GetToolTipText(), "");
    EXPECT_EQ(got.size(), sent);
    EXPECT_TRUE(got == Pattern(0, sent)) << "the server got altered or reordered bytes";
}

TEST_F(NetworkFaultTest, ClosingAtTheEndGivesUpAtTheDeadlineAndTellsWhatIsLeft) {
    SilentServer silent;
    ASSERT_NE(silent.Port(), 0);
    FillBacklog(silent, SEND_BACKLOG_COMPACT_AT);
    QElapsedTimer t;
    t.start();
    dlg->CloseLinkForExit(300);
    EXPECT_GE(t.elapsed(), 300);
    EXPECT_LT(t.elapsed(), 2000);
    EXPECT_EQ(dlg->m_strNetStatus, "已断开服务器");
    EXPECT_EQ(dlg->m_strComStatus, "串口已关闭");
    const std::string tip = dlg->GetDlgItem(IDC_STATIC_NETSTATUS)->GetToolTipText();
    EXPECT_NE(tip.find("bytes from the serial port could not be delivered"), std::string::npos)
        << tip;
}

} // namespace
} // namespace fault
