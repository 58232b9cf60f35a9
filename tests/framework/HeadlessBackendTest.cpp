// The framework's backend without widgets on the real main-window template: controls as data,
// the push, timers, one-shot timers and watches on the poll loop, message boxes that never ask.
#include "app/framework/headless/Headless.h"
#include "app/framework/Afx.h"
#include "app/framework/TestHooks.h"
#include "framework/TestDialog.h"

#include <gtest/gtest.h>

#include "app/platform/Socket.h"
#include "support/LoopbackServer.h"

#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

class HeadlessTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dlg.Create()); }
    // Runs the loop for a while, for what must not happen.
    void RunFor(std::chrono::milliseconds time) {
        const auto end = Clock::now() + time;
        PumpEventsUntil([&] { return Clock::now() >= end; }, 1000);
    }
    TestDlg dlg;
};

TEST_F(HeadlessTest, ControlsKeepWhatAWindowWouldShowAndThePushKeepsNoPane) {
    int pushes = 0;
    afx::headless::SetPushObserver([&](CDialog& d) {
        EXPECT_EQ(&d, &dlg);
        ++pushes;
    });
    dlg.m_strStatus = "串口COM3已打开";
    dlg.m_strPane = std::string(1 << 20, 'x');
    dlg.GetDlgItem(kComStatus)->SetToolTipText("COM3: /dev/ttyS2");
    EXPECT_TRUE(dlg.UpdateData(false));
    afx::headless::SetPushObserver(nullptr);
    EXPECT_EQ(pushes, 1);
    EXPECT_EQ(dlg.GetDlgItem(kComStatus)->GetWindowText(), "串口COM3已打开");
    EXPECT_EQ(dlg.GetDlgItem(kComStatus)->GetToolTipText(), "COM3: /dev/ttyS2");
    EXPECT_EQ(dlg.m_pane.GetWindowText(), ""); // the pane keeps nothing of its megabyte
    EXPECT_EQ(dlg.m_pane.GetLineCount(), 1);
    dlg.m_pane.LineScroll(5);
    EXPECT_EQ(dlg.m_pane.GetFirstVisibleLine(), 0);

    // The lists from the template, the address control, check boxes and clicks.
    ASSERT_EQ(dlg.m_baud.GetCount(), 6);
    EXPECT_EQ(dlg.m_baud.SetCurSel(2), 2);
    EXPECT_EQ(dlg.m_baud.GetWindowText(), "9600");
    EXPECT_EQ(dlg.m_baud.SetCurSel(6), CB_ERR);
    EXPECT_EQ(dlg.m_baud.GetWindowText(), "");
    ChooseForTest(dlg.m_baud, 3);
    EXPECT_EQ(dlg.selChanges, 1);
    EXPECT_EQ(dlg.m_baud.GetCurSel(), 3);
    DWORD a = 1;
    dlg.m_ip.SetWindowText("10..300.x");
    EXPECT_EQ(dlg.m_ip.GetAddress(a), 2);
    EXPECT_EQ(a, 0x0A00FF00u);
    dlg.m_ip.SetAddress(0xC0A80101u);
    EXPECT_EQ(dlg.m_ip.GetWindowText(), "192.168.1.1");
    const int hex = dlg.m_hex.GetCheck();
    ClickForTest(dlg.m_hex);
    EXPECT_EQ(dlg.m_hex.GetCheck(), hex == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED);
    EXPECT_EQ(dlg.hexClicks, 1);
    dlg.GetDlgItem(kOpen)->EnableWindow(false);
    ClickForTest(*dlg.GetDlgItem(kOpen));
    EXPECT_EQ(dlg.opens, 0);
    dlg.GetDlgItem(kOpen)->EnableWindow(true);
    ClickForTest(*dlg.GetDlgItem(kOpen));
    EXPECT_EQ(dlg.opens, 1);
}

// Nobody answers: a box's text goes to standard error and its answer changes nothing.
TEST_F(HeadlessTest, MessageBoxesNeverAskAndAnswerWhatChangesNothing) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(dlg.MessageBox("确定要退出？", nullptr, MB_YESNOCANCEL), IDCANCEL);
    EXPECT_EQ(dlg.MessageBox("b", "t", MB_OKCANCEL), IDCANCEL);
    EXPECT_EQ(dlg.MessageBox("c", "t", MB_YESNO), IDNO);
    EXPECT_EQ(AfxMessageBox("d"), IDOK);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("确定要退出？\n"), std::string::npos) << err;
    EXPECT_NE(err.find("t: b\n"), std::string::npos) << err;
}

TEST_F(HeadlessTest, TimersTickByIdOneShotsFireOnceAndKilledTimersStop) {
    dlg.SetTimer(1, 20);
    dlg.SetTimer(2, 20);
    dlg.SetOneShotTimer(4, 1);
    ASSERT_TRUE(PumpEventsUntil([&] { return dlg.ticks[1] >= 2 && dlg.ticks[2] >= 2; }, 5000));
    EXPECT_EQ(dlg.ticks[4], 1);
    EXPECT_FALSE(dlg.IsTimerRunning(4));
    EXPECT_TRUE(dlg.KillTimer(2));
    EXPECT_FALSE(dlg.KillTimer(2));
    const int stopped = dlg.ticks[2];

    // A one-shot timer set again before it fired waits anew, and fires once.
    dlg.SetOneShotTimer(4, 200);
    RunFor(std::chrono::milliseconds(100));
    const auto set = Clock::now();
    dlg.SetOneShotTimer(4, 200);
    ASSERT_TRUE(PumpEventsUntil([&] { return dlg.ticks[4] == 2; }, 5000));
    EXPECT_GE(Clock::now() - set, std::chrono::milliseconds(200));
    RunFor(std::chrono::milliseconds(50));
    EXPECT_EQ(dlg.ticks[4], 2);
    EXPECT_EQ(dlg.ticks[2], stopped);

    // Ending the dialog stops them all.
    dlg.EndDialog(IDOK);
    const int ended = dlg.ticks[1];
    RunFor(std::chrono::milliseconds(60));
    EXPECT_EQ(dlg.ticks[1], ended);
}

// As poll() would: a socket still readable after its call is called again, a hang-up counts as
// readable, and an ended watch calls no more.
TEST_F(HeadlessTest, SocketWatchesCallWhileReadableOrWritableUntilUnwatched) {
    ASSERT_EQ(sock::WSAStartup(), 0);
    testing_support::LoopbackServer server;
    const sock::SOCKET client = sock::socket(sock::AF_INET, sock::SOCK_STREAM, 0);
    sock::sockaddr_in address{};
    address.sin_family = sock::AF_INET;
    address.sin_port = sock::htons(server.Port());
    address.sin_addr.s_addr = sock::inet_addr("127.0.0.1");
    ASSERT_EQ(sock::connect(client, &address, sizeof address), 0);
    ASSERT_TRUE(server.Accept());
    ASSERT_TRUE(dlg.WatchSocket(2, client));
    RunFor(std::chrono::milliseconds(30));
    EXPECT_EQ(dlg.watched[2], 0); // nothing to read yet
    char byte = 'x';
    dlg.onWatch = [&](UINT_PTR id) {
        if (id == 2) {
            EXPECT_EQ(sock::recv(client, &byte, 1, 0), 1);
        }
    };
    ASSERT_TRUE(server.Send("xy")); // a byte a call: the second call comes for what is left
    ASSERT_TRUE(PumpEventsUntil([&] { return dlg.watched[2] == 2; }, 5000));
    RunFor(std::chrono::milliseconds(30));
    EXPECT_EQ(dlg.watched[2], 2); // all read: no more calls

    ASSERT_TRUE(dlg.WatchSocket(3, client, true));
    ASSERT_TRUE(PumpEventsUntil([&] { return dlg.watched[3] >= 1; }, 5000));
    dlg.Unwatch(3);
    EXPECT_FALSE(dlg.IsWatching(3));
    dlg.onWatch = nullptr;
    const int writable = dlg.watched[3];
    ASSERT_TRUE(server.Send("z"));
    dlg.Unwatch(2);
    RunFor(std::chrono::milliseconds(30));
    EXPECT_EQ(dlg.watched[2], 2);
    EXPECT_EQ(dlg.watched[3], writable);

    ASSERT_TRUE(dlg.WatchSocket(4, client));
    ASSERT_TRUE(PumpEventsUntil([&] { return dlg.watched[4] >= 1; }, 5000)); // the byte left
    ASSERT_EQ(sock::recv(client, &byte, 1, 0), 1);
    const int read = dlg.watched[4];
    server.CloseClient();
    EXPECT_TRUE(PumpEventsUntil([&] { return dlg.watched[4] > read; }, 5000)); // the hang-up
    dlg.Unwatch(4);
    sock::closesocket(client);
}

TEST_F(HeadlessTest, AnEventWatchCallsAgainForEachLaterSet) {
    ExpectAnEventWatchCallsAgainForEachLaterSet(dlg);
}

// A modal run: the program's start handler runs for the main window only, and the loop serves
// the window until it ends.
TEST(HeadlessModalTest, TheStartHandlerRunsForTheMainWindowAndTheLoopRunsUntilTheEnd) {
    class EndingDlg : public TestDlg {
        void OnTimer(UINT_PTR id) override {
            TestDlg::OnTimer(id);
            if (ticks[1] == 3)
                EndDialog(IDOK);
        }
    };
    CWinApp app("test");
    EndingDlg main;
    app.m_pMainWnd = &main;
    int starts = 0;
    afx::headless::SetStartHandler([&](CDialog& d) {
        ++starts;
        d.SetTimer(1, 10);
    });
    EXPECT_EQ(main.DoModal(), IDOK);
    EXPECT_EQ(main.ticks[1], 3);
    EXPECT_FALSE(main.IsTimerRunning(1));

    TestDlg other;
    SetModalHookForTest([](CDialog& d) { d.EndDialog(IDCANCEL); });
    EXPECT_EQ(other.DoModal(), IDCANCEL);
    SetModalHookForTest(nullptr);
    afx::headless::SetStartHandler(nullptr);
    app.m_pMainWnd = nullptr;
    EXPECT_EQ(starts, 1);
}

} // namespace
