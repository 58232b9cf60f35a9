// The real main window on the offscreen platform: start-up, settings file, confirmation on
// closing, the About box.
#include "app/VarnelDlg.h"
#include "app/Varnel.h"
#include "app/framework/TestHooks.h"
#include "app/framework/qt/PaneEdit.h"
#include "app/platform/Profile.h"
#include "app/platform/Socket.h"
#include "app/platform/TestSeams.h"
#include "framework/QtTestApp.h"
#include "support/BridgeWindow.h"
#include "support/OrdinaryUser.h"
#include "support/TempWorkDir.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

namespace fs = std::filesystem;

namespace {

const char* const kFile = "VarnelConfig.ini";

std::string ReadFile(const char* name) {
    std::ifstream in(name, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string Profile(const char* section, const char* key) {
    std::string buf(2 << 20, '\0');
    auto n = GetPrivateProfileStringA(section, key, "<none>", buf.data(),
                                      static_cast<std::uint32_t>(buf.size()), kFile);
    buf.resize(n);
    return buf;
}

// Each test runs in a fresh current directory, which is where the settings file lives.
class VarnelDlgTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureQtApp();
        static_cast<void>(theApp);
        dir_.emplace();
        testing_support::ResetStartSettings();
        testing_support::RecordMessageBoxes(boxes, answer);
    }
    void TearDown() override {
        dlg.reset();
        SetMessageBoxAnswererForTest(nullptr);
        SetModalHookForTest(nullptr);
        sock::SetStartupFailureForTest(0);
        dir_.reset();
    }
    void Write(const std::string& content) { std::ofstream(kFile, std::ios::binary) << content; }
    void Open() {
        dlg = std::make_unique<CVarnelDlg>();
        ASSERT_TRUE(dlg->Create());
        afx::WidgetOf(dlg.get())->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(afx::WidgetOf(dlg.get())));
    }
    template <class T> T* W(int id) { return qobject_cast<T*>(afx::WidgetOf(dlg->GetDlgItem(id))); }
    void Click(int id) {
        QWidget* w = afx::WidgetOf(dlg->GetDlgItem(id));
        QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(8, w->height() / 2));
    }
    void Choose(int listId, int index) {
        auto* combo = W<QComboBox>(listId);
        combo->showPopup();
        QAbstractItemView* view = combo->view();
        ASSERT_TRUE(PumpEventsUntil([&] { return view->isVisible(); }, 5000));
        view->setCurrentIndex(view->model()->index(index, 0));
        QTest::keyClick(view, Qt::Key_Return);
        ASSERT_TRUE(PumpEventsUntil([&] { return !view->isVisible(); }, 5000));
    }

    std::optional<testing_support::TempWorkDir> dir_;
    std::unique_ptr<CVarnelDlg> dlg;
    std::vector<MessageBoxCall> boxes;
    int answer = IDYES;
};

TEST_F(VarnelDlgTest, WithoutAFileShowsTheDefaultsAndCreatesNoFile) {
    Open();
    EXPECT_EQ(W<QComboBox>(IDC_COMBO_PORT)->currentText(), "COM3");
    EXPECT_EQ(W<QComboBox>(IDC_COMBO_BAUD)->currentText(), "115200");
    DWORD a = 0;
    EXPECT_EQ(dlg->m_ipServer.GetAddress(a), 4);
    EXPECT_EQ(a, 0x7F000001u);
    EXPECT_EQ(W<QLineEdit>(IDC_EDIT_PORT)->text(), "8000");
    EXPECT_EQ(dlg->m_strPort, "8000");
    EXPECT_EQ(dlg->m_chkHex.GetCheck(), 1);
    EXPECT_EQ(dlg->m_chk0x.GetCheck(), 0);
    EXPECT_EQ(dlg->m_chkSingle.GetCheck(), 0);
    EXPECT_EQ(g_bReopen, 1);
    EXPECT_EQ(W<QLabel>(IDC_STATIC_COMCOUNT)->text(), "COM: 0");
    EXPECT_EQ(W<QLabel>(IDC_STATIC_TCPCOUNT)->text(), "TCP: 0");
    EXPECT_EQ(W<QLabel>(IDC_STATIC_COMSTATUS)->text(), "");
    EXPECT_EQ(W<QLabel>(IDC_STATIC_NETSTATUS)->text(), "");
    EXPECT_TRUE(W<afx::PaneEdit>(IDC_EDIT_COMDATA)->ShownText().isEmpty());
    EXPECT_TRUE(W<afx::PaneEdit>(IDC_EDIT_TCPDATA)->ShownText().isEmpty());
    EXPECT_EQ(W<QPushButton>(IDC_BUTTON_OPEN)->text(), QString::fromUtf8("打开"));
    EXPECT_EQ(QApplication::focusWidget(), W<QWidget>(IDC_BUTTON_OPEN));
    EXPECT_EQ(afx::WidgetOf(dlg.get())->windowTitle(), "Varnel");
    EXPECT_FALSE(afx::WidgetOf(dlg.get())->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(fs::exists(kFile));
    EXPECT_TRUE(boxes.empty());
}

TEST_F(VarnelDlgTest, ChoosingAPortWritesJustItsIndex) {
    Open();
    Choose(IDC_COMBO_PORT, 4);
    EXPECT_EQ(std::string(g_szComPort, 8), std::string("COM5\0\0\0\0", 8));
    std::string content = ReadFile(kFile);
    content.erase(std::remove(content.begin(), content.end(), '\r'), content.end());
    EXPECT_EQ(content, "[COM]\nCOM=4\n");
    EXPECT_EQ(g_nBaudrate, 115200u);
}

TEST_F(VarnelDlgTest, StoredBaudIndexSelectsItsRateAndArrowKeysWriteEachStep) {
    Write("[COM]\r\nBaudRate=2\r\n");
    Open();
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

TEST_F(VarnelDlgTest, IndexesOutsideTheListsLeaveThemEmpty) {
    Write("[COM]\r\nCOM=7\r\nBaudRate=-1\r\n");
    Open();
    EXPECT_EQ(dlg->m_cboPort.GetCurSel(), -1);
    EXPECT_EQ(W<QComboBox>(IDC_COMBO_PORT)->currentText(), "");
    EXPECT_EQ(dlg->m_cboBaud.GetCurSel(), -1);
    EXPECT_EQ(g_nBaudrate, 115200u);
    EXPECT_EQ(std::string(PortMap(7)), "COM3");
    EXPECT_EQ(BaudMap(-1), 115200u);
}

TEST_F(VarnelDlgTest, CheckBoxesWriteTheirStateAndReopenIsOnlyRead) {
    Write("[SYSTEM]\r\nREOPEN=0\r\nFAST=7\r\n");
    Open();
    EXPECT_EQ(g_bReopen, 0);
    EXPECT_EQ(g_bFast, 1); // any value but 0
    Click(IDC_CHECK_HEX);
    EXPECT_EQ(Profile("SYSTEM", "HEX"), "0");
    Click(IDC_CHECK_HEX);
    EXPECT_EQ(Profile("SYSTEM", "HEX"), "1");
    Click(IDC_CHECK_0X);
    EXPECT_EQ(Profile("SYSTEM", "0x"), "1");
    Click(IDC_CHECK_SINGLE);
    EXPECT_EQ(Profile("SYSTEM", "Single"), "1");
    Click(IDC_CHECK_SINGLE);
    EXPECT_EQ(Profile("SYSTEM", "Single"), "0");
    EXPECT_EQ(Profile("SYSTEM", "REOPEN"), "0");
    EXPECT_EQ(Profile("SYSTEM", "FAST"), "7");
    EXPECT_EQ(Profile("COM", "COM"), "<none>");
}

// 自动重连 in the system menu switches reconnection and writes it at once; a bound the file gives
// is kept, any other value counts as off and ticking it then writes 30.
TEST_F(VarnelDlgTest, ReconnectMenuItemSwitchesAndWritesTheSetting) {
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
        Open();
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

TEST_F(VarnelDlgTest, LongServerAndPortValuesAreCut) {
    Write("[Socket]\r\nServerIP=192.168.100.2001\r\nPORT=123456\r\n");
    Open();
    EXPECT_EQ(W<QLineEdit>(IDC_EDIT_PORT)->text(), "12345");
    EXPECT_EQ(dlg->m_strPort, "12345");
    DWORD a = 0;
    dlg->m_ipServer.GetAddress(a);
    EXPECT_EQ(a, 0xC0A864C8u); // 192.168.100.200
}

TEST_F(VarnelDlgTest, JunkValuesNeitherCrashNorLoseOtherKeys) {
    const std::string longLine(1 << 20, '7');
    Write(std::string("; hand-made\n[com]\r\ncom = abc\nBAUDRATE=99999999999\r\n") +
          "[Socket]\nServerIP=\x01\xff\xfe\x80\n" + "PORT=" + longLine + "\r\n" +
          "[SYSTEM]\nHEX=-1\r\n0x=2\nSingle=abc\nREOPEN=-1\n" + "[Ports]\r\nCOM3=/dev/ttyUSB0\r\n");
    Open();
    EXPECT_EQ(W<QComboBox>(IDC_COMBO_PORT)->currentText(), "COM1");
    EXPECT_EQ(dlg->m_cboBaud.GetCurSel(), -1);
    EXPECT_EQ(g_nBaudrate, 115200u);
    EXPECT_TRUE(dlg->m_ipServer.IsBlank());
    EXPECT_EQ(dlg->m_strPort, "77777");
    EXPECT_EQ(dlg->m_chkHex.GetCheck(), 1);
    EXPECT_EQ(dlg->m_chk0x.GetCheck(), 1);
    EXPECT_EQ(dlg->m_chkSingle.GetCheck(), 0);
    EXPECT_EQ(g_bReopen, 1);

    Click(IDC_CHECK_HEX);
    EXPECT_EQ(Profile("SYSTEM", "HEX"), "0");
    EXPECT_EQ(Profile("Ports", "COM3"), "/dev/ttyUSB0");
    EXPECT_EQ(Profile("Socket", "PORT"), longLine);
    EXPECT_EQ(Profile("Socket", "ServerIP"), "\x01\xff\xfe\x80");
    EXPECT_EQ(Profile("COM", "COM"), "abc");
    EXPECT_EQ(Profile("SYSTEM", "REOPEN"), "-1");
}

TEST_F(VarnelDlgTest, UnwritableSettingsKeepTheChoiceForTheRun) {
    fs::create_directory(kFile); // the settings path is a directory: nothing can be read or written
    Open();
    EXPECT_EQ(W<QComboBox>(IDC_COMBO_BAUD)->currentText(), "115200");
    Click(IDC_CHECK_HEX);
    Choose(IDC_COMBO_BAUD, 1);
    EXPECT_EQ(dlg->m_chkHex.GetCheck(), 0);
    EXPECT_EQ(g_nBaudrate, 1200u);
    EXPECT_TRUE(fs::is_directory(kFile));
    EXPECT_TRUE(boxes.empty());
}

// Root writes into read-only folders, so the click comes from an ordinary user.
TEST_F(VarnelDlgTest, ReadOnlyFolderKeepsTheChoiceAndTheFile) {
    Write("[SYSTEM]\r\nHEX=1\r\n");
    fs::permissions(dir_->Path(), fs::perms::owner_read | fs::perms::owner_exec |
                                      fs::perms::group_read | fs::perms::group_exec |
                                      fs::perms::others_read | fs::perms::others_exec);
    Open();
    EXPECT_TRUE(testing_support::RunAsOrdinaryUser([&] {
        Click(IDC_CHECK_HEX);
        EXPECT_EQ(dlg->m_chkHex.GetCheck(), 0);
        EXPECT_EQ(Profile("SYSTEM", "HEX"), "1");
        return !::testing::Test::HasFailure();
    }));
    fs::permissions(dir_->Path(), fs::perms::owner_all);
    EXPECT_EQ(Profile("SYSTEM", "HEX"), "1");
}

TEST_F(VarnelDlgTest, PushRewritesWhatTheUserTypedIntoBoundControls) {
    Open();
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

TEST_F(VarnelDlgTest, ClosingAsksAndOnlyYesEnds) {
    Open();
    const std::string question = "        确定要退出？";
    for (int no : {IDNO, IDCANCEL}) {
        answer = no;
        QTest::keyClick(W<QWidget>(IDC_EDIT_PORT), Qt::Key_Escape);
        afx::WidgetOf(dlg.get())->close();
        dlg->OnSysCommand(SC_CLOSE, 0);
        EXPECT_FALSE(dlg->IsEnded());
        EXPECT_TRUE(afx::WidgetOf(dlg.get())->isVisible());
    }
    ASSERT_EQ(boxes.size(), 6u);
    for (const MessageBoxCall& call : boxes) {
        EXPECT_EQ(call.text, question);
        EXPECT_EQ(call.caption, "Varnel");
        EXPECT_EQ(call.type & MB_TYPEMASK, MB_YESNOCANCEL);
    }
    answer = IDYES;
    afx::WidgetOf(dlg.get())->close();
    EXPECT_TRUE(dlg->IsEnded());
    EXPECT_EQ(dlg->GetResult(), IDCANCEL);
    EXPECT_FALSE(afx::WidgetOf(dlg.get())->isVisible());
}

TEST_F(VarnelDlgTest, SystemMenuAboutItemOpensTheAboutBoxModally) {
    Open();
    const auto& items = dlg->GetSystemMenu(false)->Items();
    ASSERT_GE(items.size(), 2u);
    EXPECT_TRUE(items[items.size() - 2].flags & MF_SEPARATOR);
    EXPECT_EQ(items.back().id, IDM_ABOUTBOX);
    EXPECT_EQ(items.back().text, "关于 Varnel(&A)...");

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
        ASSERT_TRUE(PumpEventsUntil([] { return QApplication::activePopupWidget(); }, 5000));
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

TEST_F(VarnelDlgTest, FailedSocketStartShowsOnlyItsMessage) {
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

} // namespace
