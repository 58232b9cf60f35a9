// The main window through the framework's own calls, the same on every backend: on Linux against
// the Qt backend, on Windows (under Wine) against the real dialog. Start-up and the settings file,
// the Open button's states and the status texts, both panes and their counters with the fast mode
// off and on, Clear and its question, the About box, closing. What only Linux runs is in
// WindowLinuxTest.cpp.
#include "WindowRig.h"
#include "app/bridge/OutageText.h"
#include "app/bridge/TrafficText.h"
#include "app/network/ClientText.h"
#include "app/network/TlsText.h"
#include "support/FileText.h"
#include "support/SocketAddress.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing_support::ReadFile;

namespace {

using window_test::kFile;
using window_test::Profile;
using window_test::WindowTest;

TEST_F(WindowTest, StartsWithTheDefaultsAndWritesOnlyWhatTheUserChanges) {
    Start();
    EXPECT_EQ(ShownTextForTest(*dlg), "Varnel");
    EXPECT_EQ(Shows(IDC_COMBO_PORT), "COM3");
    EXPECT_EQ(Shows(IDC_COMBO_BAUD), "115200");
    EXPECT_EQ(Shows(IDC_IPADDRESS_SERVER), "127.0.0.1");
    EXPECT_EQ(Shows(IDC_EDIT_PORT), "8000");
    EXPECT_EQ(dlg->m_strPort, "8000");
    DWORD address = 0;
    EXPECT_EQ(dlg->m_ipServer.GetAddress(address), 4);
    EXPECT_EQ(address, 0x7F000001u);
    EXPECT_EQ(g_bReopen, 1);
    EXPECT_EQ(dlg->m_chkHex.GetCheck(), BST_CHECKED);
    EXPECT_EQ(dlg->m_chk0x.GetCheck(), BST_UNCHECKED);
    EXPECT_EQ(dlg->m_chkSingle.GetCheck(), BST_UNCHECKED);
    EXPECT_EQ(Shows(IDC_STATIC_COMCOUNT), "COM: 0");
    EXPECT_EQ(Shows(IDC_STATIC_TCPCOUNT), "TCP: 0");
    EXPECT_EQ(Shows(IDC_STATIC_COMSTATUS), "");
    EXPECT_EQ(Shows(IDC_STATIC_NETSTATUS), "");
    EXPECT_EQ(Shows(IDC_EDIT_COMDATA), "");
    EXPECT_EQ(Shows(IDC_EDIT_TCPDATA), "");
    EXPECT_EQ(Shows(IDC_BUTTON_OPEN), "打开");
    EXPECT_EQ(Shows(IDC_BUTTON_CLEAR), "清空");
    EXPECT_EQ(dlg->m_cboPort.GetCount(), 7);
    EXPECT_EQ(dlg->m_cboBaud.GetCount(), 6);
    EXPECT_FALSE(fs::exists(kFile));

    ChooseForTest(dlg->m_cboPort, 4);
    EXPECT_EQ(std::string(g_szComPort, 8), std::string("COM5\0\0\0\0", 8));
    std::string content = ReadFile(kFile);
    content.erase(std::remove(content.begin(), content.end(), '\r'), content.end());
    EXPECT_EQ(content, "[COM]\nCOM=4\n");
    EXPECT_EQ(g_nBaudrate, 115200u);
    ChooseForTest(dlg->m_cboBaud, 2);
    EXPECT_EQ(g_nBaudrate, 9600u);
    EXPECT_EQ(Profile("COM", "BaudRate"), "2");
    ClickForTest(dlg->m_chkHex);
    EXPECT_EQ(dlg->m_chkHex.GetCheck(), BST_UNCHECKED);
    EXPECT_EQ(Profile("SYSTEM", "HEX"), "0");
    ClickForTest(dlg->m_chk0x);
    EXPECT_EQ(Profile("SYSTEM", "0x"), "1");
    ClickForTest(dlg->m_chkSingle);
    EXPECT_EQ(Profile("SYSTEM", "Single"), "1");
    EXPECT_TRUE(boxes.empty());
}

TEST_F(WindowTest, StoredSettingsAreShownAndLongValuesCut) {
    Write("[COM]\r\nCOM=1\r\nBaudRate=2\r\n[Socket]\r\nServerIP=192.168.100.2001\r\n"
          "PORT=123456\r\n[SYSTEM]\r\nHEX=0\r\n0x=1\r\nSingle=1\r\n");
    Start();
    EXPECT_EQ(Shows(IDC_COMBO_PORT), "COM2");
    EXPECT_EQ(Shows(IDC_COMBO_BAUD), "9600");
    EXPECT_EQ(g_nBaudrate, 9600u);
    EXPECT_EQ(Shows(IDC_IPADDRESS_SERVER), "192.168.100.200");
    EXPECT_EQ(Shows(IDC_EDIT_PORT), "12345");
    EXPECT_EQ(dlg->m_strPort, "12345");
    DWORD address = 0;
    dlg->m_ipServer.GetAddress(address);
    EXPECT_EQ(address, 0xC0A864C8u);
    EXPECT_EQ(dlg->m_chkHex.GetCheck(), BST_UNCHECKED);
    EXPECT_EQ(dlg->m_chk0x.GetCheck(), BST_CHECKED);
    EXPECT_EQ(dlg->m_chkSingle.GetCheck(), BST_CHECKED);
}

TEST_F(WindowTest, OpenButtonStatesAndStatusTexts) {
    // Nobody listens at the address: the network half fails and says why; the serial half is
    // left alone.
    Set("Socket", "PORT", "1");
    Start();
    ClickForTest(*Item(IDC_BUTTON_OPEN));
    EXPECT_EQ(Shows(IDC_STATIC_NETSTATUS), "服务器不存在");
    EXPECT_EQ(Shows(IDC_STATIC_COMSTATUS), "");
    EXPECT_EQ(Shows(IDC_BUTTON_OPEN), "打开");
    EXPECT_FALSE(Item(IDC_STATIC_NETSTATUS)->GetToolTipText().empty());
    dlg.reset();

    // Both halves up: the settings cannot change while the link runs.
    StartLinked(false);
    EXPECT_EQ(Shows(IDC_BUTTON_OPEN), "关闭");
    for (int id : {IDC_COMBO_PORT, IDC_COMBO_BAUD, IDC_IPADDRESS_SERVER, IDC_EDIT_PORT})
        EXPECT_FALSE(Item(id)->IsWindowEnabled()) << id;
    EXPECT_TRUE(dlg->IsTimerRunning(TIMER_COM));
    EXPECT_TRUE(dlg->IsTimerRunning(TIMER_TCP));
    ClickForTest(*Item(IDC_BUTTON_OPEN));
    EXPECT_EQ(Shows(IDC_BUTTON_OPEN), "打开");
    EXPECT_EQ(Shows(IDC_STATIC_COMSTATUS), "串口已关闭");
    EXPECT_EQ(Shows(IDC_STATIC_NETSTATUS), "已断开服务器");
    for (int id : {IDC_COMBO_PORT, IDC_COMBO_BAUD, IDC_IPADDRESS_SERVER, IDC_EDIT_PORT})
        EXPECT_TRUE(Item(id)->IsWindowEnabled()) << id;
    EXPECT_FALSE(dlg->IsTimerRunning(TIMER_COM));
    EXPECT_FALSE(Item(IDC_STATIC_COMSTATUS)->HasErrorColour());
}

// The whole line from the settings: RATE over the list (the box shows it), FORMAT and FLOW; the
// status tooltip tells the line in force. A rate typed into the box and confirmed by 打开 is the
// rate used and kept as RATE; a text that is no rate, a key that is none, and a line the port does
// not keep (parity on a pseudo-terminal) open nothing and say why; a choice from the list takes
// the list's rate again and RATE goes.
TEST_F(WindowTest, TheLineComesFromTheSettingsAndTheBaudBox) {
    ASSERT_NO_FATAL_FAILURE(NameLink());
    Set("COM", "RATE", "19200");
    Set("COM", "FORMAT", "8N2");
    Set("COM", "FLOW", "XONXOFF");
    Start();
    EXPECT_EQ(Shows(IDC_COMBO_BAUD), "19200");
    CWnd* status = Item(IDC_STATIC_COMSTATUS);
    const auto openSerial = [&](const char* expected) {
        Press(IDC_BUTTON_OPEN);
        EXPECT_EQ(dlg->m_strComStatus, expected);
        server.Accept(5s);
    };
    const auto closeAll = [&] {
        if (Caption() == "关闭")
            Press(IDC_BUTTON_OPEN);
    };
    openSerial("串口COM3已打开");
    EXPECT_EQ(g_serial.GetBaudrate(), 19200);
    EXPECT_EQ(g_serial.GetStopBits(), CSerial::stopTwo);
    const std::string tip = status->GetToolTipText();
    EXPECT_EQ(tip.substr(tip.find('\n') + 1), "19200 8N2, XON/XOFF");
    closeAll();

    // Typed, then confirmed by 打开: the rate used, and kept.
    dlg->m_cboBaud.SetWindowText("4800");
    openSerial("串口COM3已打开");
    EXPECT_EQ(g_serial.GetBaudrate(), 4800);
    EXPECT_EQ(Profile("COM", "RATE"), "4800");
    closeAll();
    dlg->m_cboBaud.SetWindowText("48OO");
    openSerial("串口参数错误");
    EXPECT_EQ(status->GetToolTipText(), "the baud box holds \"48OO\", which is no rate: a whole "
                                        "number of bits per second from 50 to 4000000");
    EXPECT_EQ(Profile("COM", "RATE"), "4800");
    closeAll();

    // From the list: the list's rate, and RATE goes.
    ChooseForTest(dlg->m_cboBaud, 2);
    EXPECT_EQ(Profile("COM", "RATE"), "<none>");
    openSerial("串口COM3已打开");
    EXPECT_EQ(g_serial.GetBaudrate(), 9600);
    closeAll();
    dlg.reset();

    // Parity on a pseudo-terminal: the port keeps 8N1, and the open fails saying so.
    Set("COM", "FORMAT", "8E1");
    Start();
    openSerial("串口COM3打开失败2");
    status = Item(IDC_STATIC_COMSTATUS);
    EXPECT_NE(status->GetToolTipText().find("COM3: the port runs 8N1 where 8E1 was asked"),
              std::string::npos)
        << status->GetToolTipText();
    EXPECT_EQ(Caption(), "打开");
    closeAll();
    dlg.reset();

    // A key that is none: named, and nothing opens.
    Set("COM", "FLOW", "CTS");
    Set("COM", "RATE", "fast");
    Start();
    EXPECT_EQ(Shows(IDC_COMBO_BAUD), "9600");
    openSerial("串口参数错误");
    EXPECT_EQ(Item(IDC_STATIC_COMSTATUS)->GetToolTipText(),
              "RATE=fast in [COM] is no rate: a whole number of bits per second from 50 to "
              "4000000\nFLOW=CTS in [COM] is none of NONE, RTSCTS and XONXOFF");
    EXPECT_EQ(Caption(), "打开");
    closeAll();
}

// The mode in sight: listening, the address label reads as this machine's and the status says
// it listens; Telnet is in the first line of the network tooltip, listening or dialling out.
TEST_F(WindowTest, TheModeIsInSight) {
    ASSERT_NO_FATAL_FAILURE(NameLink());
    Set("Socket", "TELNET", "1");
    Start();
    EXPECT_EQ(Shows(IDC_STATIC_ADDRESS), "服务器IP");
    Press(IDC_BUTTON_OPEN);
    ASSERT_TRUE(server.Accept(5s));
    const std::string where = "127.0.0.1:" + std::to_string(server.Port());
    const std::string tip = Item(IDC_STATIC_NETSTATUS)->GetToolTipText();
    EXPECT_EQ(tip.substr(0, tip.find('\n')), where + " (Telnet)");
    Press(IDC_BUTTON_OPEN);
    dlg.reset();

    server.StopListening();
    Set("Socket", "LISTEN", "1");
    Start();
    EXPECT_EQ(Shows(IDC_STATIC_ADDRESS), "本机IP");
    Press(IDC_BUTTON_OPEN);
    EXPECT_EQ(Shows(IDC_STATIC_NETSTATUS), "监听端口 " + std::to_string(server.Port()));
    EXPECT_EQ(Item(IDC_STATIC_NETSTATUS)
                  ->GetToolTipText()
                  .rfind("Listening at " + where + " (Telnet) for 1 client", 0),
              0u);
    Press(IDC_BUTTON_OPEN);
}

// Each text a status line can show fits its label whole, in the window's own font: the longest
// address, port name and count that each form takes; what does not fit is in the tooltip.
TEST_F(WindowTest, EveryStatusTextFitsItsLabel) {
    Start();
    const std::string where = "255.255.255.255:65535";
    std::vector<ClientFacts> clients;
    for (int i = 0; i < 2; ++i)
        clients.push_back(ClientFacts{{}, where, {}, 0, 0, 0, {}});
    std::vector<ClientFacts> many(100, clients.front());
    TlsFailure expired, handshake;
    expired.kind = TlsFailure::Kind::expired;
    handshake.kind = TlsFailure::Kind::handshake;
    const std::vector<std::string> net = {
        "已连接服务器",
        "服务器不存在",
        "已断开服务器",
        "监听参数错误",
        "加密参数错误",
        "已停止监听",
        "无法监听",
        ListenStatus(where, {}),
        ListenStatus(where, {clients.front()}),
        ListenStatus(where, clients),
        ListenStatus(where, many),
        RetryStatus(true, 99999),
        TlsStatusText(expired),
        TlsStatusText(handshake),
    };
    const std::vector<std::string> com = {
        "串口已关闭",        "串口参数错误",   "串口COM3打开失败1",
        "串口COM3打开失败2", "串口COM3已打开", RetryStatus(false, 99999),
    };
    for (const auto& [id, texts] :
         {std::pair{IDC_STATIC_NETSTATUS, net}, {IDC_STATIC_COMSTATUS, com}}) {
        CWnd* label = Item(id);
        ASSERT_GT(TextRoomForTest(*label), 0);
        for (const std::string& text : texts) {
            EXPECT_GT(TextWidthForTest(*label, text), 0) << text;
            EXPECT_LE(TextWidthForTest(*label, text), TextRoomForTest(*label)) << text;
        }
    }
}

// The panes and counters with the fast mode off (polled) and on (watches, one-shot timers).
class WindowModes : public WindowTest, public ::testing::WithParamInterface<bool> {};
INSTANTIATE_TEST_SUITE_P(, WindowModes, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Fast" : "Polled"; });

TEST_P(WindowModes, PanesAndCountersShowBothDirections) {
    StartLinked(GetParam());
    EXPECT_EQ(dlg->IsWatching(WATCH_TCP), GetParam());
    ASSERT_TRUE(device.Send("hello"));
    EXPECT_EQ(ServerReceives(5), "hello");
    EXPECT_TRUE(Until([&] { return Shows(IDC_STATIC_COMCOUNT) == "COM: 5"; }));
    EXPECT_TRUE(
        Until([&] { return Shows(IDC_EDIT_COMDATA).find("\nhello\n") != std::string::npos; }));
    EXPECT_NE(Shows(IDC_EDIT_COMDATA).find("Recv COM 5 Bytes Data at Time "), std::string::npos);

    // Code page 936 bytes pass unchanged and show as Chinese.
    ASSERT_TRUE(server.Send("\xB4\xF2\xBF\xAA"));
    EXPECT_EQ(DeviceReceives(4), "\xB4\xF2\xBF\xAA");
    EXPECT_TRUE(Until([&] { return Shows(IDC_STATIC_TCPCOUNT) == "TCP: 4"; }));
    EXPECT_TRUE(
        Until([&] { return Shows(IDC_EDIT_TCPDATA).find("\n打开\n") != std::string::npos; }));

    // Many entries: the pane shows its last line.
    for (int i = 0; i < 40; ++i) {
        ASSERT_TRUE(device.Send("line" + std::to_string(i)));
        const std::int64_t want = 5 + 5 * (i + 1) + (i >= 10 ? i - 9 : 0);
        ASSERT_TRUE(Until([&] { return g_nComBytes == want; })) << i;
    }
    EXPECT_TRUE(Until([&] { return Shows(IDC_STATIC_COMCOUNT) == "COM: 235"; }));
    EXPECT_GT(dlg->m_editComData.GetFirstVisibleLine(), 0);
    EXPECT_LE(dlg->m_editComData.GetFirstVisibleLine(), dlg->m_editComData.GetLineCount());
    EXPECT_TRUE(boxes.empty());
}

TEST_P(WindowModes, RequestsAndAnswersGoRoundWithNothingLeftBehind) {
    StartLinked(GetParam());
    for (int round = 0; round < 5; ++round) {
        const std::string request = "REQ" + std::to_string(round) + "abcd";
        ASSERT_TRUE(server.Send(request));
        ASSERT_EQ(DeviceReceives(request.size()), request) << round;
        const std::string answer(100, static_cast<char>('a' + round));
        ASSERT_TRUE(device.Send(answer));
        ASSERT_EQ(ServerReceives(answer.size()), answer) << round;
    }
}

// Listening: the status line counts the clients and its tooltip lists them; the device's bytes
// reach each client and a client's lone byte reaches the device.
TEST_P(WindowModes, ListeningShowsItsClientsAndServesThem) {
    ASSERT_NO_FATAL_FAILURE(NameLink());
    const std::uint16_t port = server.Port();
    server.StopListening();
    const std::string where = "127.0.0.1:" + std::to_string(port);
    Set("Socket", "LISTEN", "1");
    Set("Socket", "CLIENTS", "2");
    Set("SYSTEM", "FAST", GetParam() ? "1" : "0");
    Start();
    Press(IDC_BUTTON_OPEN);
    EXPECT_EQ(Shows(IDC_STATIC_NETSTATUS), "监听端口 " + std::to_string(port));
    EXPECT_EQ(Item(IDC_STATIC_NETSTATUS)->GetToolTipText().rfind("Listening at " + where, 0), 0u);
    sock::SOCKET clients[2];
    for (sock::SOCKET& client : clients) {
        client = sock::socket(sock::AF_INET, sock::SOCK_STREAM, 0);
        ASSERT_EQ(testing_support::ConnectOutcome(client, "127.0.0.1", port), 0);
    }
    EXPECT_TRUE(Until([&] { return Shows(IDC_STATIC_NETSTATUS) == "已连接 2 个客户端"; }));
    EXPECT_EQ(testing_support::CountOf(Item(IDC_STATIC_NETSTATUS)->GetToolTipText(), " bytes in"),
              2u);

    ASSERT_TRUE(device.Send("hello"));
    for (sock::SOCKET client : clients) {
        std::string got;
        EXPECT_TRUE(Until([&] {
            char buf[64];
            const int n = sock::recv(client, buf, sizeof buf, 0);
            if (n > 0)
                got.append(buf, static_cast<std::size_t>(n));
            return got == "hello";
        })) << got;
    }
    ASSERT_EQ(sock::send(clients[0], "k", 1, 0), 1);
    EXPECT_EQ(DeviceReceives(1), "k");
    // With room for several clients, the pane and the log say whose block it was.
    EXPECT_TRUE(Until([&] {
        return Shows(IDC_EDIT_TCPDATA).find("Recv TCP 1 Bytes Data from 127.0.0.1:") !=
               std::string::npos;
    })) << Shows(IDC_EDIT_TCPDATA);
    SYSTEMTIME today{};
    GetLocalTime(&today);
    EXPECT_TRUE(Until([&] {
        return ReadFile(LogFileName(today)).find("from orvan(TCP) 127.0.0.1:") != std::string::npos;
    })) << ReadFile(LogFileName(today));
    sock::closesocket(clients[0]);
    EXPECT_TRUE(Until([&] { return Shows(IDC_STATIC_NETSTATUS) == "已连接 1 个客户端"; }));
    Press(IDC_BUTTON_OPEN);
    EXPECT_EQ(Shows(IDC_STATIC_NETSTATUS), "已停止监听");
    sock::closesocket(clients[1]);
}

// Settings of the listener that do not parse are told at start and at each 打开, with the key
// and value in the tooltip; nothing listens, on this port or any other, and the file keeps them
// (the address box's reading of a host name is 0.0.0.0: every interface). A port typed into the
// box is read as strictly.
TEST_F(WindowTest, WrongListenSettingsAreToldAndNothingListens) {
    ASSERT_NO_FATAL_FAILURE(NameLink());
    const std::uint16_t port = server.Port();
    server.StopListening();
    const struct {
        const char* key;
        std::string value;
        const char* status;
    } rows[] = {
        {"ServerIP", "localhost", "监听参数错误"},
        {"ServerIP", "127.0.0.1 # local only", "监听参数错误"},
        {"PORT", std::to_string(port + 65536), "监听参数错误"},
        {"TLS", "yes", "加密参数错误"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.value);
        Set("Socket", "LISTEN", "1");
        Set("Socket", "ServerIP", "127.0.0.1");
        Set("Socket", "PORT", std::to_string(port).c_str());
        Set("Socket", row.key, row.value.c_str());
        Start();
        const std::string named =
            std::string(row.key) + " in [Socket] of VarnelConfig.ini is \"" + row.value + "\"";
        EXPECT_EQ(Shows(IDC_STATIC_NETSTATUS), row.status);
        EXPECT_NE(Item(IDC_STATIC_NETSTATUS)->GetToolTipText().find(named), std::string::npos)
            << Item(IDC_STATIC_NETSTATUS)->GetToolTipText();
        Press(IDC_BUTTON_OPEN);
        EXPECT_EQ(Shows(IDC_STATIC_NETSTATUS), row.status);
        EXPECT_NE(Item(IDC_STATIC_NETSTATUS)->GetToolTipText().find(named), std::string::npos);
        sock::SOCKET client = sock::socket(sock::AF_INET, sock::SOCK_STREAM, 0);
        EXPECT_NE(testing_support::ConnectOutcome(client, "127.0.0.1", port), 0);
        sock::closesocket(client);
        EXPECT_EQ(Profile("Socket", row.key), row.value);
        if (dlg->LinkIsOpen())
            Press(IDC_BUTTON_OPEN);
        dlg.reset();
    }

    Set("Socket", "TLS", "0");
    Start();
    dlg->m_editPort.SetWindowText("0");
    Press(IDC_BUTTON_OPEN);
    EXPECT_EQ(Shows(IDC_STATIC_NETSTATUS), "监听参数错误");
    EXPECT_NE(Item(IDC_STATIC_NETSTATUS)
                  ->GetToolTipText()
                  .find("PORT in [Socket] of VarnelConfig.ini is \"0\""),
              std::string::npos);
    EXPECT_EQ(Profile("Socket", "PORT"), std::to_string(port));
}

TEST_F(WindowTest, AStatusChangeLeavesThePanesWhereTheyAre) {
    StartLinked(false);
    std::int64_t comBytes = 0, tcpBytes = 0;
    for (int i = 0; i < 40; ++i) { // one entry each
        const std::string line = "line" + std::to_string(i), answer = "answer" + std::to_string(i);
        ASSERT_TRUE(device.Send(line));
        ASSERT_TRUE(server.Send(answer));
        comBytes += static_cast<std::int64_t>(line.size());
        tcpBytes += static_cast<std::int64_t>(answer.size());
        ASSERT_TRUE(Until([&] { return g_nComBytes == comBytes && g_nTcpBytes == tcpBytes; })) << i;
    }
    CEdit& com = dlg->m_editComData;
    CEdit& tcp = dlg->m_editTcpData;
    ASSERT_TRUE(
        Until([&] { return com.GetFirstVisibleLine() > 0 && tcp.GetFirstVisibleLine() > 0; }));
    com.LineScroll(-5); // the user reads back; the other pane stays at its bottom
    const int comAt = com.GetFirstVisibleLine();
    const int tcpAt = tcp.GetFirstVisibleLine();
    server.CloseClient(); // the link goes down: a push of the status alone
    ASSERT_TRUE(Until([&] { return Shows(IDC_STATIC_NETSTATUS) == "已断开服务器"; }));
    EXPECT_EQ(com.GetFirstVisibleLine(), comAt);
    EXPECT_EQ(tcp.GetFirstVisibleLine(), tcpAt);
}

TEST_F(WindowTest, ClearAsksAndKeepsTheRunningTotals) {
    StartLinked(false);
    ASSERT_TRUE(device.Send(std::string(100, 'x')));
    ASSERT_TRUE(Until([&] { return Shows(IDC_STATIC_COMCOUNT) == "COM: 100"; }));
    answer = IDNO;
    ClickForTest(*Item(IDC_BUTTON_CLEAR));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "        清空数据显示内容？ ");
    EXPECT_EQ(boxes[0].caption, "Varnel");
    EXPECT_EQ(boxes[0].type & MB_TYPEMASK, MB_YESNOCANCEL);
    EXPECT_NE(Shows(IDC_EDIT_COMDATA), "");
    EXPECT_FALSE(dlg->m_strComData.empty());
    EXPECT_EQ(dlg->m_strComCount, "COM: 100");
    answer = IDYES;
    ClickForTest(*Item(IDC_BUTTON_CLEAR));
    EXPECT_EQ(Shows(IDC_EDIT_COMDATA), "");
    EXPECT_TRUE(dlg->m_strComData.empty());
    EXPECT_EQ(Shows(IDC_STATIC_COMCOUNT), "0");
    EXPECT_EQ(Shows(IDC_STATIC_TCPCOUNT), "0");
    EXPECT_EQ(dlg->m_strComCount, "0");
    EXPECT_EQ(dlg->m_strTcpCount, "0");
    ASSERT_TRUE(device.Send("abc"));
    EXPECT_TRUE(Until([&] { return Shows(IDC_STATIC_COMCOUNT) == "COM: 103"; }));
}

TEST_F(WindowTest, AWatchForWritabilityFiresWhenAConnectWithoutWaitingEnds) {
    // The window waits for a connect as for the fast mode's sockets: its watch fires whether
    // the connect succeeded or failed.
    struct WatchingDlg : CVarnelDlg {
        std::map<UINT_PTR, int> fired;
        void OnWatch(UINT_PTR nID) override {
            if (nID >= 100)
                ++fired[nID];
            else
                CVarnelDlg::OnWatch(nID);
        }
    };
    auto watching = std::make_unique<WatchingDlg>();
    WatchingDlg& w = *watching;
    dlg = std::move(watching);
    ASSERT_TRUE(dlg->Create());
    std::uint16_t closedPort;
    {
        testing_support::LoopbackServer gone;
        closedPort = gone.Port();
    }
    const std::uint16_t ports[] = {server.Port(), closedPort};
    sock::SOCKET sockets[2];
    for (int i = 0; i < 2; ++i) {
        sockets[i] = sock::socket(sock::AF_INET, sock::SOCK_STREAM, 0);
        sock::sockaddr_in a = testing_support::SocketAddress("127.0.0.1", ports[i]);
        const int rc = sock::connect_start(sockets[i], &a, sizeof a);
        ASSERT_TRUE(rc == 0 || sock::WSAGetLastError() == EINPROGRESS) << i;
        ASSERT_TRUE(dlg->WatchSocket(100 + i, sockets[i], true));
    }
    EXPECT_TRUE(Until([&] { return w.fired[100] > 0 && w.fired[101] > 0; }));
    EXPECT_EQ(sock::connect_result(sockets[0]), 0);
    EXPECT_EQ(sock::connect_result(sockets[1]), sock::SOCKET_ERROR);
    EXPECT_EQ(sock::WSAGetLastError(), ECONNREFUSED);
    for (int i = 0; i < 2; ++i) {
        dlg->Unwatch(100 + i);
        sock::closesocket(sockets[i]);
    }
}

TEST_F(WindowTest, AboutItemOfTheSystemMenuOpensTheAboutBoxModally) {
    Start();
    const auto& items = dlg->GetSystemMenu(false)->Items();
    ASSERT_GE(items.size(), 2u);
    EXPECT_TRUE(items[items.size() - 2].flags & MF_SEPARATOR);
    EXPECT_EQ(items.back().id, static_cast<UINT_PTR>(IDM_ABOUTBOX));
    EXPECT_EQ(items.back().text, "关于 Varnel(&A)...");

    bool shown = false;
    SetModalHookForTest([&](CDialog& about) {
        shown = true;
        EXPECT_EQ(about.GetTemplateID(), static_cast<UINT>(IDD_ABOUTBOX));
        EXPECT_TRUE(IsShownForTest(about));
        EXPECT_EQ(ShownTextForTest(about), "关于 Varnel");
        CWnd* ok = about.GetDlgItem(IDOK);
        ASSERT_NE(ok, nullptr);
        EXPECT_EQ(ShownTextForTest(*ok), "确定");
        ClickForTest(*ok);
    });
    SystemCommandForTest(*dlg, IDM_ABOUTBOX);
    EXPECT_TRUE(shown);
    EXPECT_FALSE(dlg->IsEnded());
    EXPECT_TRUE(boxes.empty());
}

TEST_F(WindowTest, ClosingAsksAndOnlyYesEnds) {
    Start();
    for (int no : {IDNO, IDCANCEL}) {
        answer = no;
        CloseForTest(*dlg);
        SystemCommandForTest(*dlg, SC_CLOSE);
        EXPECT_FALSE(dlg->IsEnded());
        EXPECT_TRUE(IsShownForTest(*dlg));
    }
    ASSERT_EQ(boxes.size(), 4u);
    for (const MessageBoxCall& call : boxes) {
        EXPECT_EQ(call.text, "        确定要退出？");
        EXPECT_EQ(call.caption, "Varnel");
        EXPECT_EQ(call.type & MB_TYPEMASK, MB_YESNOCANCEL);
    }
    answer = IDYES;
    CloseForTest(*dlg);
    EXPECT_TRUE(dlg->IsEnded());
    EXPECT_EQ(dlg->GetResult(), IDCANCEL);
    EXPECT_FALSE(IsShownForTest(*dlg));
}

} // namespace
