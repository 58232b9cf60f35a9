// The main window through the framework's own calls, the same on every backend: on Linux against
// the Qt backend, on Windows (under Wine) against the real dialog. Start-up and the settings file,
// the Open button's states and the status texts, both panes and their counters with the fast mode
// off and on, Clear and its question, the About box, closing.
#include "app/Varnel.h"
#include "app/VarnelDlg.h"
#include "app/framework/TestHooks.h"
#include "app/platform/Profile.h"
#include "app/platform/Socket.h"
#include "support/BridgeWindow.h"
#include "support/DeviceEnd.h"
#include "support/Gather.h"
#include "support/LoopbackServer.h"
#include "support/SocketAddress.h"
#include "support/TempWorkDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const char* const kFile = "VarnelConfig.ini";

std::string ReadFile(const char* name) {
    std::ifstream in(name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::string Profile(const char* section, const char* key) {
    char buf[256] = {};
    const auto n = GetPrivateProfileStringA(section, key, "<none>", buf, sizeof buf, kFile);
    return std::string(buf, n);
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureGuiForTest();
        static_cast<void>(theApp);
        dir_.emplace();
        testing_support::ResetStartSettings();
        g_nComBytes = g_nTcpBytes = 0;
        testing_support::RecordMessageBoxes(boxes, answer);
    }
    void TearDown() override {
        dlg.reset();
        testing_support::ReleaseLink();
        SetMessageBoxAnswererForTest(nullptr);
        SetModalHookForTest(nullptr);
        dir_.reset();
    }
    void Set(const char* section, const char* key, const std::string& value) {
        testing_support::SetSetting(section, key, value);
    }
    void Open() {
        dlg = std::make_unique<CVarnelDlg>();
        ASSERT_TRUE(dlg->Create());
        ASSERT_TRUE(IsShownForTest(*dlg));
    }
    // The device as COM3, the server's port in the settings, the window open and linked.
    void OpenLinked(bool fast) {
        ASSERT_TRUE(device.Ok()) << device.Problem();
        ASSERT_TRUE(server.Listening());
        device.NameAs("COM3");
        Set("Socket", "PORT", std::to_string(server.Port()));
        Set("SYSTEM", "REOPEN", "0");
        Set("SYSTEM", "FAST", fast ? "1" : "0");
        Set("SYSTEM", "HEX", "0");
        Open();
        ClickForTest(*Item(IDC_BUTTON_OPEN));
        ASSERT_TRUE(server.Accept(5s));
        ASSERT_EQ(Shows(IDC_STATIC_NETSTATUS), "已连接服务器");
        ASSERT_EQ(Shows(IDC_STATIC_COMSTATUS), "串口COM3已打开");
    }
    CWnd* Item(int id) {
        CWnd* item = dlg->GetDlgItem(id);
        EXPECT_NE(item, nullptr) << id;
        return item;
    }
    std::string Shows(int id) { return ShownTextForTest(*Item(id)); }
    bool Until(const std::function<bool()>& done, int ms = 5000) {
        return PumpEventsUntil(done, ms);
    }
    std::string DeviceReceives(std::size_t count) {
        return testing_support::ReceiveWhilePumping(device, count, 5000, 5ms);
    }
    std::string ServerReceives(std::size_t count) {
        return testing_support::ReceiveWhilePumping(server, count, 5000, 5ms);
    }

    std::optional<testing_support::TempWorkDir> dir_;
    std::unique_ptr<CVarnelDlg> dlg;
    std::vector<MessageBoxCall> boxes;
    int answer = IDYES;
    testing_support::DeviceEnd device;
    testing_support::LoopbackServer server;
};

TEST_F(WindowTest, StartsWithTheDefaultsAndWritesOnlyWhatTheUserChanges) {
    Open();
    EXPECT_EQ(ShownTextForTest(*dlg), "Varnel");
    EXPECT_EQ(Shows(IDC_COMBO_PORT), "COM3");
    EXPECT_EQ(Shows(IDC_COMBO_BAUD), "115200");
    EXPECT_EQ(Shows(IDC_IPADDRESS_SERVER), "127.0.0.1");
    EXPECT_EQ(Shows(IDC_EDIT_PORT), "8000");
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
    std::ofstream(kFile, std::ios::binary)
        << "[COM]\r\nCOM=1\r\nBaudRate=2\r\n[Socket]\r\nServerIP=192.168.100.2001\r\n"
           "PORT=123456\r\n[SYSTEM]\r\nHEX=0\r\n0x=1\r\nSingle=1\r\n";
    Open();
    EXPECT_EQ(Shows(IDC_COMBO_PORT), "COM2");
    EXPECT_EQ(Shows(IDC_COMBO_BAUD), "9600");
    EXPECT_EQ(g_nBaudrate, 9600u);
    EXPECT_EQ(Shows(IDC_IPADDRESS_SERVER), "192.168.100.200");
    EXPECT_EQ(Shows(IDC_EDIT_PORT), "12345");
    EXPECT_EQ(dlg->m_chkHex.GetCheck(), BST_UNCHECKED);
    EXPECT_EQ(dlg->m_chk0x.GetCheck(), BST_CHECKED);
    EXPECT_EQ(dlg->m_chkSingle.GetCheck(), BST_CHECKED);
}

TEST_F(WindowTest, OpenButtonStatesAndStatusTexts) {
    // Nobody listens at the address: the network half fails and says why; the serial half is
    // left alone.
    Set("Socket", "PORT", "1");
    Open();
    ClickForTest(*Item(IDC_BUTTON_OPEN));
    EXPECT_EQ(Shows(IDC_STATIC_NETSTATUS), "服务器不存在");
    EXPECT_EQ(Shows(IDC_STATIC_COMSTATUS), "");
    EXPECT_EQ(Shows(IDC_BUTTON_OPEN), "打开");
    EXPECT_FALSE(Item(IDC_STATIC_NETSTATUS)->GetToolTipText().empty());
    dlg.reset();

    // Both halves up: the settings cannot change while the link runs.
    OpenLinked(false);
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

// The panes and counters with the fast mode off (polled) and on (watches, one-shot timers).
class WindowModes : public WindowTest, public ::testing::WithParamInterface<bool> {};
INSTANTIATE_TEST_SUITE_P(, WindowModes, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Fast" : "Polled"; });

TEST_P(WindowModes, PanesAndCountersShowBothDirections) {
    OpenLinked(GetParam());
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
    OpenLinked(GetParam());
    for (int round = 0; round < 5; ++round) {
        const std::string request = "REQ" + std::to_string(round) + "abcd";
        ASSERT_TRUE(server.Send(request));
        ASSERT_EQ(DeviceReceives(request.size()), request) << round;
        const std::string answer(100, static_cast<char>('a' + round));
        ASSERT_TRUE(device.Send(answer));
        ASSERT_EQ(ServerReceives(answer.size()), answer) << round;
    }
}

TEST_F(WindowTest, AStatusChangeLeavesThePanesWhereTheyAre) {
    OpenLinked(false);
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
    OpenLinked(false);
    ASSERT_TRUE(device.Send(std::string(100, 'x')));
    ASSERT_TRUE(Until([&] { return Shows(IDC_STATIC_COMCOUNT) == "COM: 100"; }));
    answer = IDNO;
    ClickForTest(*Item(IDC_BUTTON_CLEAR));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "        清空数据显示内容？ ");
    EXPECT_EQ(boxes[0].caption, "Varnel");
    EXPECT_EQ(boxes[0].type & MB_TYPEMASK, MB_YESNOCANCEL);
    EXPECT_NE(Shows(IDC_EDIT_COMDATA), "");
    answer = IDYES;
    ClickForTest(*Item(IDC_BUTTON_CLEAR));
    EXPECT_EQ(Shows(IDC_EDIT_COMDATA), "");
    EXPECT_EQ(Shows(IDC_STATIC_COMCOUNT), "0");
    EXPECT_EQ(Shows(IDC_STATIC_TCPCOUNT), "0");
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
    Open();
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
    Open();
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
