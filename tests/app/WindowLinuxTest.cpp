// The main window on Linux alone. What the user does with the Qt toolkit's own keys, focus and
// pop-ups, and the settings file's reading rules of the program's own profile functions (Windows
// has the system's); then what needs the rigs only Linux has: the TLS tests' certificates and the
// simulated device.
#include "WindowRig.h"
#include "app/framework/qt/PaneEdit.h"
#include "framework/QtTestApp.h"
#include "support/OrdinaryUser.h"
#include "support/SimulatedDevice.h"
#include "support/SocketAddress.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTimer>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

using window_test::kFile;
using window_test::Profile;
using window_test::WindowTest;

// The toolkit's own: real clicks, keys and pop-ups on the window once it is active.
class QtWindowTest : public WindowTest {
protected:
    void TearDown() override {
        sock::SetStartupFailureForTest(0);
        WindowTest::TearDown();
    }
    void Start() override {
        WindowTest::Start();
        afx::WidgetOf(dlg.get())->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(afx::WidgetOf(dlg.get())));
    }
    template <class T> T* W(int id) { return qobject_cast<T*>(afx::WidgetOf(dlg->GetDlgItem(id))); }
    void Press(int id) override { MouseClickForTest(dlg->GetDlgItem(id)); }
    // The user opens the list, moves to item `index` and takes it with Return.
    void Choose(int listId, int index) {
        auto* combo = W<QComboBox>(listId);
        combo->showPopup();
        QAbstractItemView* view = combo->view();
        ASSERT_TRUE(Until([&] { return view->isVisible(); }));
        view->setCurrentIndex(view->model()->index(index, 0));
        QTest::keyClick(view, Qt::Key_Return);
        ASSERT_TRUE(Until([&] { return !view->isVisible(); }));
    }
};

TEST_F(QtWindowTest, FocusStartsOnOpenAndTheWindowCannotBeMaximised) {
    Start();
    EXPECT_EQ(QApplication::focusWidget(), W<QWidget>(IDC_BUTTON_OPEN));
    EXPECT_FALSE(afx::WidgetOf(dlg.get())->windowFlags() & Qt::WindowMaximizeButtonHint);
}

TEST_F(QtWindowTest, StoredBaudIndexSelectsItsRateAndArrowKeysWriteEachStep) {
    Write("[COM]\r\nBaudRate=2\r\n");
    Start();
    EXPECT_EQ(W<QComboBox>(IDC_COMBO_BAUD)->currentText(), "9600");
    EXPECT_EQ(g_nBaudrate, 9600u);
    auto* baud = W<QComboBox>(IDC_COMBO_BAUD);
    baud->setFocus();
    QTest::keyClick(baud, Qt::Key_Down);
    EXPECT_EQ(Profile("COM", "BaudRate"), "3");
    EXPECT_EQ(g_nBaudrate, 38400u);
    QTest::keyClick(baud, Qt::Key_Down);
    EXPECT_EQ(Profile("COM", "BaudRate"), "4");
    EXPECT_EQ(g_nBaudrate, 57600u);
}

TEST_F(QtWindowTest, IndexesOutsideTheListsLeaveThemEmpty) {
    Write("[COM]\r\nCOM=7\r\nBaudRate=-1\r\n");
    Start();
    EXPECT_EQ(dlg->m_cboPort.GetCurSel(), -1);
    EXPECT_EQ(W<QComboBox>(IDC_COMBO_PORT)->currentText(), "");
    EXPECT_EQ(dlg->m_cboBaud.GetCurSel(), -1);
    EXPECT_EQ(g_nBaudrate, 115200u);
    EXPECT_EQ(std::string(PortMap(7)), "COM3");
    EXPECT_EQ(BaudMap(-1), 115200u);
}

TEST_F(QtWindowTest, CheckBoxesWriteTheirStateAndReopenIsOnlyRead) {
    Write("[SYSTEM]\r\nREOPEN=0\r\nFAST=1\r\n");
    Start();
    EXPECT_EQ(g_bReopen, 0);
    EXPECT_EQ(g_bFast, 1);
    Press(IDC_CHECK_HEX);
    EXPECT_EQ(Profile("SYSTEM", "HEX"), "0");
    Press(IDC_CHECK_HEX);
    EXPECT_EQ(Profile("SYSTEM", "HEX"), "1");
    Press(IDC_CHECK_0X);
    EXPECT_EQ(Profile("SYSTEM", "0x"), "1");
    Press(IDC_CHECK_SINGLE);
    EXPECT_EQ(Profile("SYSTEM", "Single"), "1");
    Press(IDC_CHECK_SINGLE);
    EXPECT_EQ(Profile("SYSTEM", "Single"), "0");
    EXPECT_EQ(Profile("SYSTEM", "REOPEN"), "0");
    EXPECT_EQ(Profile("SYSTEM", "FAST"), "1");
    EXPECT_EQ(Profile("COM", "COM"), "<none>");
}

// 自动重连 in the system menu switches reconnection and writes it at once; a bound the file gives
// is kept, any other value counts as off and ticking it then writes 30.
TEST_F(QtWindowTest, ReconnectMenuItemSwitchesAndWritesTheSetting) {
    const struct {
        const char* file;
        bool on;
        const char* ticked; // written when the item is ticked
    } cases[] = {
        {"", false, "30"},
        {"[SYSTEM]\r\nRECONNECT=7\r\n", true, "7"},
        {"[SYSTEM]\r\nRECONNECT=3601\r\n", false, "30"},
        {"[SYSTEM]\r\nRECONNECT=-2\r\n", false, "30"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        Write(c.file);
        Start();
        auto checked = [&] {
            for (const CMenu::Item& item : dlg->GetSystemMenu(false)->Items())
                if (item.id == IDM_RECONNECT)
                    return (item.flags & MF_CHECKED) != 0;
            ADD_FAILURE() << "no 自动重连 item";
            return false;
        };
        EXPECT_EQ(checked(), c.on);
        dlg->OnSysCommand(IDM_RECONNECT, 0);
        EXPECT_EQ(checked(), !c.on);
        EXPECT_EQ(Profile("SYSTEM", "RECONNECT"), c.on ? "0" : c.ticked);
        if (!c.on) {
            dlg->OnSysCommand(IDM_RECONNECT, 0);
            EXPECT_FALSE(checked());
            EXPECT_EQ(Profile("SYSTEM", "RECONNECT"), "0");
        }
        dlg.reset();
    }
}

TEST(QuietGap, IsThreeAndAHalfCharactersRoundedUpToWholeMilliseconds) {
    const std::pair<std::uint32_t, UINT> table[] = {
        {300, 117}, {1200, 30}, {9600, 4}, {19200, 2}, {38400, 1}, {115200, 1}, {921600, 1}, {0, 1},
    };
    for (const auto& [baud, ms] : table)
        EXPECT_EQ(SerialQuietGapMs(baud), ms) << baud << " baud";
}

TEST_F(QtWindowTest, JunkValuesNeitherCrashNorLoseOtherKeys) {
    const std::string longLine(1 << 20, '7');
    Write(std::string("; hand-made\n[com]\r\ncom = abc\nBAUDRATE=99999999999\r\n") +
          "[Socket]\nServerIP=\x01\xff\xfe\x80\n" + "PORT=" + longLine + "\r\n" +
          "[SYSTEM]\nHEX=-1\r\n0x=2\nSingle=abc\nREOPEN=-1\n" + "[Ports]\r\nCOM3=/dev/ttyUSB0\r\n");
    Start();
    EXPECT_EQ(W<QComboBox>(IDC_COMBO_PORT)->currentText(), "COM1");
    EXPECT_EQ(dlg->m_cboBaud.GetCurSel(), -1);
    EXPECT_EQ(g_nBaudrate, 115200u);
    EXPECT_TRUE(dlg->m_ipServer.IsBlank());
    EXPECT_EQ(dlg->m_strPort, "77777");
    EXPECT_EQ(dlg->m_chkHex.GetCheck(), 1);
    EXPECT_EQ(dlg->m_chk0x.GetCheck(), 1);
    EXPECT_EQ(dlg->m_chkSingle.GetCheck(), 0);
    EXPECT_EQ(g_bReopen, 1);

    Press(IDC_CHECK_HEX);
    EXPECT_EQ(Profile("SYSTEM", "HEX"), "0");
    EXPECT_EQ(Profile("Ports", "COM3"), "/dev/ttyUSB0");
    EXPECT_EQ(Profile("Socket", "PORT"), longLine);
    EXPECT_EQ(Profile("Socket", "ServerIP"), "\x01\xff\xfe\x80");
    EXPECT_EQ(Profile("COM", "COM"), "abc");
    EXPECT_EQ(Profile("SYSTEM", "REOPEN"), "-1");
}

TEST_F(QtWindowTest, UnwritableSettingsKeepTheChoiceForTheRun) {
    fs::create_directory(kFile); // the settings path is a directory: nothing can be read or written
    Start();
    EXPECT_EQ(W<QComboBox>(IDC_COMBO_BAUD)->currentText(), "115200");
    Press(IDC_CHECK_HEX);
    Choose(IDC_COMBO_BAUD, 1);
    EXPECT_EQ(dlg->m_chkHex.GetCheck(), 0);
    EXPECT_EQ(g_nBaudrate, 1200u);
    EXPECT_TRUE(fs::is_directory(kFile));
    EXPECT_TRUE(boxes.empty());
}

// Root writes into read-only folders, so the click comes from an ordinary user.
TEST_F(QtWindowTest, ReadOnlyFolderKeepsTheChoiceAndTheFile) {
    Write("[SYSTEM]\r\nHEX=1\r\n");
    fs::permissions(dir.Path(), fs::perms::owner_read | fs::perms::owner_exec |
                                    fs::perms::group_read | fs::perms::group_exec |
                                    fs::perms::others_read | fs::perms::others_exec);
    Start();
    EXPECT_TRUE(testing_support::RunAsOrdinaryUser([&] {
        Press(IDC_CHECK_HEX);
        EXPECT_EQ(dlg->m_chkHex.GetCheck(), 0);
        EXPECT_EQ(Profile("SYSTEM", "HEX"), "1");
        return !::testing::Test::HasFailure();
    }));
    fs::permissions(dir.Path(), fs::perms::owner_all);
    EXPECT_EQ(Profile("SYSTEM", "HEX"), "1");
}

TEST_F(QtWindowTest, PushRewritesWhatTheUserTypedIntoBoundControls) {
    Start();
    auto* pane = W<afx::PaneEdit>(IDC_EDIT_TCPDATA);
    pane->setFocus();
    QTest::keyClicks(pane, "scribble");
    auto* port = W<QLineEdit>(IDC_EDIT_PORT);
    port->setFocus();
    port->selectAll();
    QTest::keyClicks(port, "9x9");
    EXPECT_EQ(port->text(), "99"); // digits only
    dlg->m_strNetStatus = "status";
    dlg->UpdateData(false);
    EXPECT_TRUE(pane->ShownText().isEmpty());
    EXPECT_EQ(port->text(), "8000");
    EXPECT_EQ(W<QLabel>(IDC_STATIC_NETSTATUS)->text(), "status");
}

TEST_F(QtWindowTest, FailedSocketStartShowsOnlyItsMessage) {
    std::vector<UINT> dialogs;
    SetModalHookForTest([&](CDialog& d) {
        dialogs.push_back(d.GetTemplateID());
        d.OnCommand(IDCANCEL); // answered Yes
    });
    sock::SetStartupFailureForTest(10091);
    EXPECT_FALSE(theApp.InitInstance());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Windows 通信端口初始化失败。");
    EXPECT_EQ(boxes[0].caption, "Varnel");
    EXPECT_EQ(boxes[0].type & MB_TYPEMASK, MB_OK);
    EXPECT_TRUE(dialogs.empty());

    // With the sockets up the main window runs until it is closed.
    sock::SetStartupFailureForTest(0);
    boxes.clear();
    EXPECT_FALSE(theApp.InitInstance());
    EXPECT_EQ(dialogs, std::vector<UINT>{IDD_VARNEL_DIALOG});
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "        确定要退出？");
    EXPECT_EQ(theApp.m_pMainWnd, nullptr);
}

// Escape in any control asks as closing does, and No or Cancel keeps the window.
TEST_F(QtWindowTest, EscapeAsksAsClosingDoes) {
    Start();
    for (int no : {IDNO, IDCANCEL}) {
        answer = no;
        QTest::keyClick(W<QWidget>(IDC_EDIT_PORT), Qt::Key_Escape);
        EXPECT_FALSE(dlg->IsEnded());
        EXPECT_TRUE(afx::WidgetOf(dlg.get())->isVisible());
    }
    ASSERT_EQ(boxes.size(), 2u);
    for (const MessageBoxCall& call : boxes) {
        EXPECT_EQ(call.text, "        确定要退出？");
        EXPECT_EQ(call.caption, "Varnel");
        EXPECT_EQ(call.type & MB_TYPEMASK, MB_YESNOCANCEL);
    }
}

// Alt+Space opens the system menu; its last item opens the About box as the active modal window,
// and Return takes its default button.
TEST_F(QtWindowTest, AboutBoxFromTheSystemMenusPopUp) {
    Start();
    bool shown = false;
    SetModalHookForTest([&](CDialog& about) {
        shown = true;
        EXPECT_EQ(about.GetTemplateID(), static_cast<UINT>(IDD_ABOUTBOX));
        QWidget* w = afx::WidgetOf(&about);
        EXPECT_EQ(QApplication::activeModalWidget(), w);
        EXPECT_EQ(w->windowTitle(), QString::fromUtf8("关于 Varnel"));
        QStringList texts;
        for (QLabel* l : w->findChildren<QLabel*>())
            texts << l->text();
        EXPECT_TRUE(texts.contains(QString::fromUtf8("Varnel 1.0 版")));
        QTest::keyClick(w, Qt::Key_Return); // the default button, OK
    });
    QTimer::singleShot(0, [&] {
        ASSERT_TRUE(Until([] { return QApplication::activePopupWidget(); }));
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(menu, nullptr);
        QAction* about = menu->actions().back();
        EXPECT_EQ(about->text(), QString::fromUtf8("关于 Varnel(&A)..."));
        EXPECT_TRUE(menu->actions().at(menu->actions().size() - 2)->isSeparator());
        menu->setActiveAction(about);
        QTest::keyClick(menu, Qt::Key_Return);
    });
    QTest::keyClick(W<QWidget>(IDC_BUTTON_OPEN), Qt::Key_Space, Qt::AltModifier);
    EXPECT_TRUE(shown);
    EXPECT_FALSE(dlg->IsEnded());
    EXPECT_TRUE(boxes.empty());
}

// Linux only: the TLS tests' certificates and the simulated device are made here.
// TLS files are read again at each 打开: a key that went away since start-up opens nothing,
// least of all a listener in clear text; once it is back, the listener opens again.
TEST_F(WindowTest, AListenerWhoseTlsFilesWentAwayOpensNothing) {
    ASSERT_NO_FATAL_FAILURE(NameLink());
    const std::uint16_t port = server.Port();
    server.StopListening();
    for (const char* name : {"server.pem", "server.key"})
        std::filesystem::copy_file(std::string(VARNEL_TEST_CERTS) + "/" + name, name);
    Set("Socket", "LISTEN", "1");
    Set("Socket", "TLS", "1");
    Set("TLS", "CERT", "server.pem");
    Set("TLS", "KEY", "server.key");
    Start();
    Press(IDC_BUTTON_OPEN);
    EXPECT_EQ(Shows(IDC_STATIC_NETSTATUS), "监听端口 " + std::to_string(port));
    Press(IDC_BUTTON_OPEN);
    std::filesystem::rename("server.key", "away.key");
    Press(IDC_BUTTON_OPEN);
    EXPECT_EQ(Shows(IDC_STATIC_NETSTATUS), "加密参数错误");
    EXPECT_NE(Item(IDC_STATIC_NETSTATUS)->GetToolTipText().find("KEY in [TLS]"), std::string::npos)
        << Item(IDC_STATIC_NETSTATUS)->GetToolTipText();
    sock::SOCKET client = sock::socket(sock::AF_INET, sock::SOCK_STREAM, 0);
    EXPECT_NE(testing_support::ConnectOutcome(client, "127.0.0.1", port), 0);
    sock::closesocket(client);
    if (dlg->LinkIsOpen())
        Press(IDC_BUTTON_OPEN);
    std::filesystem::rename("away.key", "server.key");
    Press(IDC_BUTTON_OPEN);
    EXPECT_EQ(Shows(IDC_STATIC_NETSTATUS), "监听端口 " + std::to_string(port));
}

// The line belongs to the session: a client that holds DTR off (a device in reset) gets it, and
// when it leaves, the last one, the configured line comes back with DTR on. On the simulated
// device, which has the modem lines a pseudo-terminal lacks.
TEST_F(WindowTest, TheConfiguredLineAndDtrComeBackWhenTheLastClientLeaves) {
    testing_support::SimulatedDevice sim("COM3");
    const std::uint16_t port = server.Port();
    server.StopListening();
    Set("Socket", "LISTEN", "1");
    Set("Socket", "TELNET", "1");
    Set("Socket", "PORT", std::to_string(port));
    Set("SYSTEM", "REOPEN", "0");
    Start();
    Press(IDC_BUTTON_OPEN);
    ASSERT_TRUE(Until([&] { return sim.Dtr() && sim.Baud() == 115200; }));
    sock::SOCKET client = sock::socket(sock::AF_INET, sock::SOCK_STREAM, 0);
    ASSERT_EQ(testing_support::ConnectOutcome(client, "127.0.0.1", port), 0);
    auto send = [&](const std::string& bytes) {
        ASSERT_EQ(sock::send(client, bytes.data(), static_cast<int>(bytes.size()), 0),
                  static_cast<int>(bytes.size()));
    };
    send("\xFF\xFA\x2C\x05\x09\xFF\xF0"); // DTR off, nothing else
    EXPECT_TRUE(Until([&] { return !sim.Dtr(); }));
    sock::closesocket(client);
    EXPECT_TRUE(Until([&] { return sim.Dtr() && sim.Baud() == 115200; }));
    EXPECT_TRUE(sim.Rts());
    Press(IDC_BUTTON_OPEN);
}

} // namespace
