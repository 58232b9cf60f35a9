// The bridge end to end through the main window on the offscreen platform: a pty standing for
// the serial device under COM3 and a TCP server on 127.0.0.1, the blocks each way, the panes, the
// log, the reopen cycle and the states of the Open button.
#include "app/framework/qt/PaneEdit.h"
#include "app/framework/qt/QtWindow.h"
#include "app/linkerrors/LinkErrors.h"
#include "support/BridgeWindow.h"
#include "support/FileText.h"
#include "support/PtyPair.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing_support::CountOf;
using testing_support::LoopbackServer;
using testing_support::ReadFile;

namespace {

constexpr SYSTEMTIME kNoon{2026, 12, 0, 6, 10, 14, 14, 0};

std::string AllBytes() {
    std::string s;
    for (int i = 0; i < 256; ++i)
        s.push_back(static_cast<char>(i));
    return s;
}

class ForwardingTest : public testing_support::BridgeRig<testing_support::PtyPair> {
protected:
    void SetUp() override {
        BridgeRig::SetUp();
        ASSERT_NO_FATAL_FAILURE(NameLink());
    }
    QString Shown(int id) {
        return qobject_cast<afx::PaneEdit*>(afx::WidgetOf(dlg->GetDlgItem(id)))->ShownText();
    }
};

// The rules that hold for every block, with the fast mode off and on.
class ForwardingModes : public ForwardingTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        ForwardingTest::SetUp();
        Set("SYSTEM", "FAST", GetParam() ? "1" : "0");
    }
};
INSTANTIATE_TEST_SUITE_P(, ForwardingModes, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Fast" : "Polled"; });

TEST_P(ForwardingModes, BothDirectionsCarryEveryByteValueUnchanged) {
    StartLinked();
    const std::string all = AllBytes();
    ASSERT_TRUE(device.Send(all));
    EXPECT_EQ(ServerReceives(all.size()), all);
    ASSERT_TRUE(server.Send(all));
    EXPECT_EQ(DeviceReceives(all.size()), all);
    EXPECT_TRUE(Until([&] { return dlg->m_strComCount == "COM: 256"; }));
    EXPECT_TRUE(Until([&] { return dlg->m_strTcpCount == "TCP: 256"; }));
}

TEST_F(ForwardingTest, PaneAndLogTextsInEachForm) {
    SetClockForTest([] { return kNoon; });
    Set("SYSTEM", "HEX", "0");
    StartLinked();

    // Text form: the serial entry, and a zero byte ending the shown text but not the count.
    ASSERT_TRUE(device.Send("hello"));
    ASSERT_TRUE(Until([&] { return g_nComBytes == 5; }));
    EXPECT_EQ(dlg->m_strComData,
              "\r\nRecv COM 5 Bytes Data at Time 12/06/26 10:14:14:\r\nhello\r\n\r\n");
    ASSERT_TRUE(device.Send(std::string("\0A", 2)));
    ASSERT_TRUE(Until([&] { return g_nComBytes == 7; }));
    EXPECT_TRUE(dlg->m_strComData.ends_with("Recv COM 2 Bytes Data at Time 12/06/26 10:14:14:\r\n"
                                            "\r\n\r\n"));

    // Code page 936 bytes reach the server unchanged and show as Chinese.
    ASSERT_TRUE(server.Send("\xB4\xF2\xBF\xAA"));
    EXPECT_EQ(DeviceReceives(4), "\xB4\xF2\xBF\xAA");
    ASSERT_TRUE(Until([&] { return g_nTcpBytes == 4; }));
    EXPECT_TRUE(Shown(IDC_EDIT_TCPDATA).contains(QString::fromUtf8("打开")));

    // Hex with and without the prefix.
    dlg->m_chkHex.SetCheck(1);
    ASSERT_TRUE(server.Send("\x01\xA0"));
    ASSERT_TRUE(Until([&] { return g_nTcpBytes == 6; }));
    EXPECT_TRUE(dlg->m_strTcpData.ends_with(":\r\n01 A0 \r\n\r\n"));
    dlg->m_chk0x.SetCheck(1);
    ASSERT_TRUE(server.Send("\x01\xA0"));
    ASSERT_TRUE(Until([&] { return g_nTcpBytes == 8; }));
    EXPECT_TRUE(dlg->m_strTcpData.ends_with(":\r\n0x01 0xA0 \r\n\r\n"));
    ASSERT_TRUE(device.Send(std::string("\xFF\x00", 2)));
    ASSERT_TRUE(Until([&] { return g_nComBytes == 9; }));
    EXPECT_TRUE(dlg->m_strComData.ends_with(":\r\n0xFF 0x00 \r\n\r\n"));

    EXPECT_EQ(
        ReadFile("2026-12-06.log"),
        "Receive 5 bytes data from SPP(COM) at 2026-12-06 10:14:14  :\r\nhello \r\n\r\n"
        "Receive 2 bytes data from SPP(COM) at 2026-12-06 10:14:14  :\r\n \r\n\r\n"
        "Receive 4 bytes data from orvan(TCP) at 2026-12-06 10:14:14 :\r\n\xB4\xF2\xBF\xAA"
        " \r\n\r\n"
        "Receive 2 bytes data from orvan(TCP) at 2026-12-06 10:14:14 :\r\n01 A0  \r\n\r\n"
        "Receive 2 bytes data from orvan(TCP) at 2026-12-06 10:14:14 :\r\n0x01 0xA0  \r\n\r\n"
        "Receive 2 bytes data from SPP(COM) at 2026-12-06 10:14:14  :\r\n0xFF 0x00  \r\n\r\n");
}

TEST_P(ForwardingModes, OneByteBlocksFromTheServerAreDroppedTwoAreForwarded) {
    StartLinked();
    // The bridge takes the byte from the socket and, once nothing followed it, drops it.
    const auto taken = [&] {
        return sock::select(g_sock, 0, 0) == 0 && !dlg->IsTimerRunning(TIMER_TCP_QUIET);
    };
    ASSERT_TRUE(server.Send("A"));
    ASSERT_TRUE(Until(taken));
    ASSERT_TRUE(server.Send("BC"));
    EXPECT_EQ(DeviceReceives(2), "BC");
    ASSERT_TRUE(Until([&] { return g_nTcpBytes == 2; }));
    EXPECT_EQ(CountOf(dlg->m_strTcpData, "Recv TCP"), 1u);
    EXPECT_NE(dlg->m_strTcpData.find("Recv TCP 2 Bytes"), std::string::npos);

    // One byte past a full buffer is the end of a longer burst, not a lone byte.
    std::string burst(3097, 'x');
    burst.back() = 'y';
    ASSERT_TRUE(server.Send(burst));
    EXPECT_EQ(DeviceReceives(burst.size()), burst);
    ASSERT_TRUE(Until([&] { return g_nTcpBytes == 2 + 3097; }));
    EXPECT_NE(dlg->m_strTcpData.find("Recv TCP 1 Bytes"), std::string::npos);
    ASSERT_TRUE(server.Send("Z"));
    ASSERT_TRUE(Until(taken));
    ASSERT_TRUE(server.Send("DE"));
    EXPECT_EQ(DeviceReceives(2), "DE");
    EXPECT_EQ(CountOf(dlg->m_strTcpData, "Recv TCP 1 Bytes"), 1u);
}

TEST_F(ForwardingTest, LargeTransfersSplitIntoBlocksWithReopenOff) {
    StartLinked();
    std::string big;
    for (int i = 0; i < 7000; ++i)
        big.push_back(static_cast<char>('a' + i % 26));
    ASSERT_TRUE(server.Send(big));
    EXPECT_EQ(DeviceReceives(big.size()), big);
    ASSERT_TRUE(Until([&] { return g_nTcpBytes == 7000; }));
    EXPECT_EQ(CountOf(dlg->m_strTcpData, "Recv TCP 3096 Bytes"), 2u);
    EXPECT_EQ(CountOf(dlg->m_strTcpData, "Recv TCP 808 Bytes"), 1u);

    ASSERT_TRUE(device.Send(big));
    EXPECT_EQ(ServerReceives(big.size()), big);
    EXPECT_EQ(server.Accepted(), 1);
    // The serial side leaves in blocks of at most one buffer too, and each is told.
    ASSERT_TRUE(Until([&] { return g_nComBytes == 7000; }));
    std::size_t total = 0;
    const std::string& pane = dlg->m_strComData.Str();
    for (auto at = pane.find("Recv COM "); at != std::string::npos;
         at = pane.find("Recv COM ", at + 1)) {
        const std::size_t n = std::stoul(pane.substr(at + 9));
        EXPECT_LE(n, 3096u);
        total += n;
    }
    EXPECT_EQ(total, 7000u);
}

TEST_F(ForwardingTest, FastModeSendsEachBurstAsOneBlockAndSplitsItAtTheBuffer) {
    Set("SYSTEM", "FAST", "1");
    Set("COM", "BaudRate", "0"); // 300 baud: the line counts as quiet after 117 ms
    StartLinked();
    EXPECT_FALSE(dlg->IsTimerRunning(TIMER_COM));
    EXPECT_FALSE(dlg->IsTimerRunning(TIMER_TCP));

    // Two pieces 30 ms apart are one burst at this rate.
    ASSERT_TRUE(device.Send("abc"));
    PumpEventsUntil([] { return false; }, 30);
    ASSERT_TRUE(device.Send("def"));
    EXPECT_EQ(ServerReceives(6), "abcdef");
    ASSERT_TRUE(Until([] { return g_nComBytes == 6; }));
    EXPECT_EQ(CountOf(dlg->m_strComData, "Recv COM 6 Bytes"), 1u);

    // A burst longer than the buffer leaves as a full block and the rest, in either direction.
    std::string big;
    for (int i = 0; i < 5000; ++i)
        big.push_back(static_cast<char>(i * 7));
    ASSERT_TRUE(device.Send(big));
    EXPECT_EQ(ServerReceives(big.size()), big);
    ASSERT_TRUE(server.Send(big));
    EXPECT_EQ(DeviceReceives(big.size()), big);
    ASSERT_TRUE(Until([] { return g_nComBytes == 5006 && g_nTcpBytes == 5000; }));
    EXPECT_EQ(CountOf(dlg->m_strComData, "Recv COM 3096 Bytes"), 1u);
    EXPECT_EQ(CountOf(dlg->m_strComData, "Recv COM 1904 Bytes"), 1u);
    EXPECT_EQ(CountOf(dlg->m_strTcpData, "Recv TCP 3096 Bytes"), 1u);
    EXPECT_EQ(CountOf(dlg->m_strTcpData, "Recv TCP 1904 Bytes"), 1u);
    // The window shows it all once the bursts are over.
    EXPECT_TRUE(Until([&] {
        return dlg->GetDlgItem(IDC_STATIC_COMCOUNT)->GetWindowText() == "COM: 5006" &&
               dlg->GetDlgItem(IDC_STATIC_TCPCOUNT)->GetWindowText() == "TCP: 5000";
    }));
}

TEST_P(ForwardingModes, ReopenCyclesBothLinksAfterEachBlockFromTheServer) {
    StartLinkedReopening();
    ASSERT_TRUE(server.Send("hi"));
    EXPECT_EQ(DeviceReceives(2), "hi");
    EXPECT_TRUE(server.WaitClientClosed(5s));
    EXPECT_TRUE(server.Accept(5s));
    EXPECT_EQ(server.Accepted(), 2);
    EXPECT_TRUE(Until([&] { return g_bTcpConnected == 1; }));
    EXPECT_EQ(dlg->m_strNetStatus, "已连接服务器");
    EXPECT_EQ(dlg->m_strComStatus, "串口COM3已打开");
    EXPECT_EQ(Caption(), "关闭");
    // The port was reopened: the device still reaches the server.
    ASSERT_TRUE(device.Send("ok"));
    EXPECT_EQ(ServerReceives(2), "ok");
}

// The server's last block and its close come together: the block is forwarded, the cycle brings
// the link up again, and the close of the old connection must not take the new one down.
TEST_P(ForwardingModes, ReopenAfterTheServersLastBlockKeepsTheNewLinkUp) {
    StartLinkedReopening();
    ASSERT_TRUE(server.Send("bye"));
    server.CloseClient();
    EXPECT_EQ(DeviceReceives(3), "bye");
    ASSERT_TRUE(server.Accept(5s));
    ASSERT_TRUE(device.Send("up"));
    EXPECT_EQ(ServerReceives(2), "up");
    EXPECT_EQ(dlg->m_strNetStatus, "已连接服务器");
    EXPECT_EQ(Caption(), "关闭");
    EXPECT_EQ(dlg->GetDlgItem(IDC_STATIC_NETSTATUS)->GetToolTipText().find("closed"),
              std::string::npos);
}

TEST_F(ForwardingTest, SingleAndAllOrNothingStates) {
    // No server, "Single" clear: the serial half is not touched, the address is saved anyway.
    server.StopListening();
    Start();
    dlg->OnCommand(IDC_BUTTON_OPEN);
    EXPECT_EQ(dlg->m_strNetStatus, "服务器不存在");
    EXPECT_EQ(dlg->m_strComStatus, "");
    EXPECT_EQ(Caption(), "打开");
    EXPECT_EQ(g_sock, sock::INVALID_SOCKET);
    char ip[16];
    GetPrivateProfileStringA("Socket", "ServerIP", "", ip, sizeof ip, SETTINGS_FILE);
    EXPECT_STREQ(ip, "127.0.0.1");
    EXPECT_FALSE(dlg->GetDlgItem(IDC_STATIC_NETSTATUS)->GetToolTipText().empty());

    // "Single" checked: the serial half comes up alone, the next click takes everything down.
    dlg->m_chkSingle.SetCheck(1);
    dlg->OnCommand(IDC_BUTTON_OPEN);
    EXPECT_EQ(Caption(), "关闭");
    EXPECT_EQ(dlg->m_strNetStatus, "服务器不存在");
    EXPECT_TRUE(dlg->IsTimerRunning(TIMER_COM));
    EXPECT_FALSE(dlg->IsTimerRunning(TIMER_TCP));
    // Serial blocks are still shown and counted although the send goes nowhere.
    ASSERT_TRUE(device.Send("xy"));
    EXPECT_TRUE(Until([&] { return g_nComBytes == 2; }));
    dlg->OnCommand(IDC_BUTTON_OPEN);
    EXPECT_EQ(dlg->m_strNetStatus, "已断开服务器");
    EXPECT_EQ(dlg->m_strComStatus, "串口已关闭");
    EXPECT_EQ(Caption(), "打开");
    EXPECT_FALSE(dlg->IsTimerRunning(TIMER_COM));
}

TEST_F(ForwardingTest, FailedSerialOpenTakesTheConnectionDownAgain) {
    LoopbackServer other;
    Set("Socket", "PORT", std::to_string(other.Port()));
    Set("COM", "COM", "5"); // COM6, which leads nowhere here
    Set("Ports", "COM6", "/dev/varnel-no-such-device");
    Start();
    dlg->OnCommand(IDC_BUTTON_OPEN);
    EXPECT_TRUE(other.Accept(5s));
    EXPECT_TRUE(other.WaitClientClosed(5s));
    EXPECT_EQ(dlg->m_strComStatus, "串口COM6打开失败1");
    EXPECT_EQ(dlg->m_strNetStatus, "已断开服务器");
    EXPECT_EQ(Caption(), "打开");
    EXPECT_FALSE(dlg->IsTimerRunning(TIMER_COM));
    EXPECT_FALSE(dlg->IsTimerRunning(TIMER_TCP));
    // The tooltip says why, then which serial ports this machine has instead.
    const std::string tip = dlg->GetDlgItem(IDC_STATIC_COMSTATUS)->GetToolTipText();
    EXPECT_EQ(tip,
              "/dev/varnel-no-such-device: no such device\n" + DescribeSerialLinesPresent("COM6"));
}

TEST_F(ForwardingTest, PortNamesAreUsedWholeUpToSevenCharacters) {
    Set("Ports", "COM10", device.SlavePath());
    Set("Ports", "COM1", "/nonexistent");
    Set("SYSTEM", "Single", "1");
    server.StopListening();
    Start();
    dlg->m_cboPort.SetWindowText("COM10");
    dlg->OnCommand(IDC_BUTTON_OPEN);
    EXPECT_EQ(dlg->m_strComStatus, "串口COM10已打开");
    dlg->OnCommand(IDC_BUTTON_OPEN);

    // Eight characters do not fit: nothing is opened, not even the first seven.
    Set("Ports", "COM1000", device.SlavePath());
    dlg->m_cboPort.SetWindowText("COM10000");
    dlg->OnCommand(IDC_BUTTON_OPEN);
    EXPECT_EQ(dlg->m_strComStatus, "串口COM10000打开失败1");
    EXPECT_EQ(Caption(), "打开");
}

TEST_P(ForwardingModes, ServerThatClosesOrResetsTakesTheLinkDown) {
    for (bool reset : {false, true}) {
        SCOPED_TRACE(reset ? "reset" : "orderly close");
        if (!dlg)
            StartLinked();
        else {
            dlg->OnCommand(IDC_BUTTON_OPEN);
            ASSERT_TRUE(server.Accept(5s));
        }
        if (reset)
            server.ResetClient();
        else
            server.CloseClient();
        ExpectLinkDown("已断开服务器");
        EXPECT_NE(dlg->GetDlgItem(IDC_STATIC_NETSTATUS)
                      ->GetToolTipText()
                      .find(reset ? "the server reset the connection"
                                  : "the server closed the connection"),
                  std::string::npos);
    }
}

TEST_P(ForwardingModes, LogFollowsTheDateAndFailuresDoNotStopTheBridge) {
    SYSTEMTIME now{2026, 12, 0, 31, 23, 59, 59, 0};
    SetClockForTest([&] { return now; });
    Set("SYSTEM", "HEX", "0");
    // The day's log cannot be opened: forwarding and display go on.
    fs::create_directory("2026-12-31.log");
    StartLinked();
    ASSERT_TRUE(device.Send("one"));
    EXPECT_EQ(ServerReceives(3), "one");
    EXPECT_TRUE(Until([&] { return g_nComBytes == 3; }));
    // The fast mode writes its entries at the panes' pace: those of one period may span midnight,
    // and each still goes to its own day's file.
    ASSERT_TRUE(device.Send("eve"));
    EXPECT_TRUE(Until([&] { return g_nComBytes == 6; }));
    now = SYSTEMTIME{2027, 1, 0, 1, 0, 0, 0, 0};
    ASSERT_TRUE(device.Send("two"));
    EXPECT_TRUE(Until([&] { return g_nComBytes == 9; }));
    EXPECT_TRUE(fs::is_directory("2026-12-31.log"));
    const std::string expected =
        "Receive 3 bytes data from SPP(COM) at 2027-01-01 00:00:00  :\r\ntwo \r\n\r\n";
    EXPECT_TRUE(Until([&] { return ReadFile("2027-01-01.log") == expected; }))
        << ReadFile("2027-01-01.log");
}

TEST_F(ForwardingTest, CountersAre64BitAndHexTextsAreNeverCut) {
    SetClockForTest([] { return kNoon; });
    Set("SYSTEM", "0x", "1");
    StartLinked();
    g_nTcpBytes = 2147483647;
    const std::string block(3096, '\xE0');
    ASSERT_TRUE(server.Send(block));
    ASSERT_TRUE(Until([&] { return g_nTcpBytes == 2147483647LL + 3096; }));
    EXPECT_EQ(dlg->m_strTcpCount, "TCP: 2147486743");
    EXPECT_EQ(CountOf(dlg->m_strTcpData, "0xE0 "), 3096u);
    EXPECT_EQ(CountOf(ReadFile("2026-12-06.log"), "0xE0 "), 3096u);
}

TEST_F(ForwardingTest, PanesKeepTheirNewestWholeEntriesWithinTheirBound) {
    SetClockForTest([] { return kNoon; });
    Start();
    dlg->m_chk0x.SetCheck(1);
    std::string block(3096, '\0');
    const int blocks = static_cast<int>(PANE_TEXT_LIMIT / (3096 * 5)) + 40;
    for (int i = 0; i < blocks; ++i) {
        block[0] = static_cast<char>(i);
        dlg->ShowTrafficBlock(false, block.data(), static_cast<int>(block.size()));
        dlg->m_strComData += "\r\n";
        dlg->UpdateData(false);
        ASSERT_LE(dlg->m_strComData.size(), PANE_TEXT_LIMIT);
    }
    const std::string& pane = dlg->m_strComData.Str();
    EXPECT_GE(pane.size(), PANE_TEXT_KEEP - 3096 * 5 - 100);
    EXPECT_TRUE(pane.starts_with("\r\nRecv COM 3096 Bytes"));
    char last[16];
    std::snprintf(last, sizeof last, "0x%02X 0x00", (blocks - 1) & 0xFF);
    EXPECT_NE(pane.find(last, pane.size() - 3096 * 5 - 10), std::string::npos);
    // The window shows exactly the member, although its top was dropped between pushes.
    EXPECT_EQ(Shown(IDC_EDIT_COMDATA),
              QString::fromLatin1(pane.data(), static_cast<qsizetype>(pane.size()))
                  .replace(QLatin1String("\r\n"), QLatin1String("\n")));
    // The log keeps every entry.
    EXPECT_EQ(CountOf(ReadFile("2026-12-06.log"), "Receive 3096 bytes"),
              static_cast<std::size_t>(blocks));
}

TEST_F(ForwardingTest, PanesOfShortLinesAreBoundedByLinesToo) {
    Set("SYSTEM", "HEX", "0");
    Start();
    const std::string block(40, '\n');
    const int blocks = static_cast<int>(PANE_LINE_LIMIT / 40) + 200;
    for (int i = 0; i < blocks; ++i) {
        dlg->ShowTrafficBlock(true, block.data(), static_cast<int>(block.size()));
        dlg->m_strTcpData += "\r\n";
        dlg->UpdateData(false);
    }
    const std::string& pane = dlg->m_strTcpData.Str();
    EXPECT_LE(CountOf(pane, "\n"), PANE_LINE_LIMIT);
    EXPECT_GE(CountOf(pane, "\n"), PANE_LINE_KEEP - 50);
    EXPECT_TRUE(pane.starts_with("\r\nRecv TCP 40 Bytes"));
    EXPECT_EQ(Shown(IDC_EDIT_TCPDATA).count(QLatin1Char('\n')),
              static_cast<qsizetype>(CountOf(pane, "\n")));
}

} // namespace
