// The dialog framework on the real main-window template: pane push, scrolling, timers, keys,
// message boxes, the address control and the lists.
#include "app/framework/Afx.h"
#include "app/framework/TestHooks.h"
#include "app/framework/qt/Widgets.h"
#include "framework/QtTestApp.h"
#include "framework/TestDialog.h"
#include "serial/Ports.h"

#include <QAbstractTextDocumentLayout>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStringEncoder>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextLayout>
#include <QTimer>

#include <gtest/gtest.h>

#include <random>
#include <thread>

namespace {

class FrameworkTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureQtApp();
        ASSERT_TRUE(dlg.Create());
        QWidget* w = afx::WidgetOf(&dlg);
        w->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(w));
    }
    void TearDown() override { SetMessageBoxAnswererForTest(nullptr); }
    template <class T> T* Widget(int id) {
        return qobject_cast<T*>(afx::WidgetOf(dlg.GetDlgItem(id)));
    }
    QString PaneShows() { return Widget<afx::PaneEdit>(kPane)->ShownText(); }
    TestDlg dlg;
};

std::string Bytes(std::initializer_list<unsigned char> b) {
    return std::string(b.begin(), b.end());
}

TEST_F(FrameworkTest, PaneShowsBytesDecodedAsCodePage936AndKeepsThem) {
    // "中文" in code page 936, a broken lead byte, CR LF and a lone LF.
    dlg.m_strPane = Bytes({0xD6, 0xD0, 0xCE, 0xC4, '\r', '\n', 'a', 0x81, '\r', '\n', 'b', '\n'});
    dlg.UpdateData(false);
    EXPECT_EQ(PaneShows(), QString::fromUtf8("中文\na\uFFFD\nb\n"));
    EXPECT_EQ(dlg.m_pane.GetWindowText(), dlg.m_strPane); // bytes back unchanged, broken one too
}

TEST_F(FrameworkTest, GrowingPaneAppendsAndShowsTheSameAsAFullRewrite) {
    // Pushes that cut multi-byte characters and CR LF pairs anywhere, drop lines at the top or
    // change the middle must end up drawing exactly what one push of the whole text draws.
    std::mt19937 rng(7);
    const std::string alphabet = Bytes(
        {0xD6, 0xD0, 0xCE, 0xC4, 0x81, 0x30, 0x82, 0x31, '\r', '\n', 'A', ' ', 0xFF, 0x80, '9'});
    for (int round = 0; round < 20; ++round) {
        dlg.m_strPane.Empty();
        dlg.UpdateData(false);
        for (int step = 0; step < 15; ++step) {
            const int n = static_cast<int>(rng() % 7);
            for (int i = 0; i < n; ++i)
                dlg.m_strPane += alphabet[rng() % alphabet.size()];
            const std::size_t lf = dlg.m_strPane.find("\n", rng() % (dlg.m_strPane.size() + 1));
            switch (rng() % 6) {
            case 0: // lines dropped at the top, as a bounded pane does
                if (lf != std::string::npos)
                    dlg.m_strPane.Delete(0, lf + 1);
                break;
            case 1: // anything else: a cut in the middle, or at the top inside a line
                dlg.m_strPane.Delete(rng() % (dlg.m_strPane.size() + 1), 1 + rng() % 3);
                break;
            default:
                break;
            }
            dlg.UpdateData(false);
            ASSERT_EQ(PaneShows(),
                      afx::PaneEdit::Display(dlg.m_strPane.data(), dlg.m_strPane.size()))
                << "round " << round << " step " << step;
        }
    }
}

TEST_F(FrameworkTest, BoundedPaneOfWrappedLinesAndChineseShowsItsLastLineAfterEveryPush) {
    // As in a running window: entries of a Chinese line and a long hex line that wraps, each
    // pushed and scrolled to the end, the oldest dropped now and then as a bounded pane does.
    auto* pane = Widget<afx::PaneEdit>(kPane);
    QScrollBar* bar = pane->verticalScrollBar();
    const std::string chinese = Bytes({0xD6, 0xD0, 0xCE, 0xC4}); // "中文"
    for (int entry = 0; entry < 60; ++entry) {
        std::string hex;
        for (int i = 0; i < 200; ++i)
            hex += "0x" + std::to_string(10 + (entry + i) % 90) + " ";
        dlg.m_strPane +=
            "\r\nRecv " + chinese + " " + std::to_string(entry) + ":\r\n" + hex + "\r\n\r\n";
        if (entry % 7 == 6)
            dlg.m_strPane.Delete(0, dlg.m_strPane.find("Recv", 8) - 2);
        dlg.UpdateData(false);
        dlg.m_pane.LineScroll(dlg.m_pane.GetLineCount());
        QCoreApplication::processEvents();
        ASSERT_EQ(PaneShows(), afx::PaneEdit::Display(dlg.m_strPane.data(), dlg.m_strPane.size()))
            << "entry " << entry;
        const int hexLine = pane->TextLines() - 3;
        ASSERT_TRUE(pane->TextLine(hexLine).startsWith("0x")) << "entry " << entry;
        EXPECT_GT(pane->RowsOf(hexLine), 1) << "entry " << entry; // wrapped
        EXPECT_EQ(bar->value(), bar->maximum()) << "entry " << entry;
        EXPECT_GE(pane->TextLineAt(QPoint(2, pane->viewport()->height() - 2)), hexLine)
            << "entry " << entry;
        EXPECT_EQ(dlg.m_pane.GetWindowText(), dlg.m_strPane) << "entry " << entry;
    }
    EXPECT_GT(dlg.m_strPane.DroppedFront(), 0u);
    EXPECT_GT(dlg.m_pane.GetFirstVisibleLine(), 0);
    EXPECT_TRUE(bar->updatesEnabled()); // the bar is not left frozen after the pushes
    // Lines long out of view are laid out again, wrapped as before, when scrolled back to.
    const int wrapped = pane->RowsOf(pane->TextLines() - 3);
    bar->setValue(0);
    pane->viewport()->grab();
    ASSERT_TRUE(pane->TextLine(2).startsWith("0x"));
    EXPECT_EQ(pane->RowsOf(2), wrapped);
    EXPECT_EQ(pane->TextLineAt(QPoint(2, 2)), 0);
    // The text shown, not the member's since, until the next push.
    const CString pushed = dlg.m_strPane;
    dlg.m_strPane += "not pushed\r\n";
    EXPECT_EQ(dlg.m_pane.GetWindowText(), pushed);
}

TEST_F(FrameworkTest, PaneDrawsWhatTheStockEditDrawsAndAClickEditsItInPlace) {
    // Entries as the window writes them: wrapped hex, a word longer than a row, a tab, empty
    // lines, wrapped Chinese in the middle. The pane must draw exactly like a stock edit of the
    // same size and font at the top and at the bottom, wrap the Chinese into the same rows (its
    // glyphs sit on whole pixels), and hand over the same view to the editor on a click.
    auto* pane = Widget<afx::PaneEdit>(kPane);
    QStringEncoder gbk("GB18030");
    auto entry = [&](const QString& body) {
        return "\r\nRecv COM 5 Bytes Data at Time 12/06/26 10:14:14:\r\n" +
               QByteArray(gbk.encode(body)).toStdString() + "\r\n";
    };
    QString hex;
    for (int i = 0; i < 400; ++i)
        hex += "0x" + QString::number(10 + i % 90) + " ";
    const QString chinese =
        QString::fromUtf8("温度 23.5 C, 电压 3.30 V, 设备状态 正常 (device OK) ").repeated(6);
    for (int i = 0; i < 6; ++i)
        dlg.m_strPane +=
            entry(hex) + entry(i == 3 ? chinese : QString(300, 'w')) + entry("a\tb\r\n\r\nend");
    dlg.UpdateData(false);
    QPlainTextEdit stock(afx::WidgetOf(&dlg));
    stock.setGeometry(pane->geometry());
    stock.setFont(pane->font());
    stock.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    stock.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    stock.show();
    stock.setPlainText(afx::PaneEdit::Display(dlg.m_strPane.data(), dlg.m_strPane.size()));
    auto picture = [](QWidget* view) {
        QCoreApplication::processEvents();
        return view->grab().toImage();
    };
    EXPECT_EQ(picture(pane->viewport()), picture(stock.viewport())) << "top";
    dlg.m_pane.LineScroll(dlg.m_pane.GetLineCount());
    stock.verticalScrollBar()->setValue(stock.verticalScrollBar()->maximum());
    const QImage bottom = picture(pane->viewport());
    EXPECT_EQ(bottom, picture(stock.viewport())) << "bottom";
    stock.hide();

    const QPoint middle(pane->viewport()->width() / 2, pane->viewport()->height() / 2);
    const int line = pane->TextLineAt(middle);
    QTest::mouseClick(pane->viewport(), Qt::LeftButton, {}, middle);
    QPlainTextEdit* editor = pane->Editor();
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->textCursor().blockNumber(), line);
    editor->setCursorWidth(0);
    EXPECT_EQ(picture(editor->viewport()), bottom) << "editor";
    EXPECT_EQ(dlg.m_pane.GetWindowText(), dlg.m_strPane); // clicked, not changed
    // Traffic goes on while the user selects: the editor gets the new lines, the selection stays.
    QTextCursor selection(editor->document());
    selection.setPosition(5);
    selection.setPosition(40, QTextCursor::KeepAnchor);
    editor->setTextCursor(selection);
    const QString selected = editor->textCursor().selectedText();
    dlg.m_strPane += entry("more\r\n");
    dlg.UpdateData(false);
    dlg.m_pane.LineScroll(dlg.m_pane.GetLineCount());
    ASSERT_EQ(pane->Editor(), editor);
    EXPECT_EQ(editor->textCursor().selectedText(), selected);
    EXPECT_EQ(editor->toPlainText(),
              afx::PaneEdit::Display(dlg.m_strPane.data(), dlg.m_strPane.size()));
    EXPECT_EQ(dlg.m_pane.GetWindowText(), dlg.m_strPane);

    const int wide = pane->ShownText().split('\n').indexOf(chinese);
    ASSERT_GT(wide, 0);
    const QTextBlock block = stock.document()->findBlockByNumber(wide);
    stock.document()->documentLayout()->blockBoundingRect(block);
    dlg.UpdateData(false);
    EXPECT_EQ(pane->RowsOf(wide), block.layout()->lineCount());
    EXPECT_GT(pane->RowsOf(wide), 1);
}

TEST_F(FrameworkTest, PushPutsBackWhatTheUserTypedAndShrinksAPane) {
    dlg.m_strPane = "line one\r\n";
    dlg.UpdateData(false);
    auto* pane = Widget<afx::PaneEdit>(kPane);
    pane->setFocus();
    QTest::keyClicks(pane, "typed");
    ASSERT_TRUE(PaneShows().contains("typed"));
    dlg.m_strPane += "line two\r\n";
    dlg.UpdateData(false);
    EXPECT_EQ(PaneShows(), QString("line one\nline two\n"));
    dlg.m_strPane = "x";
    dlg.UpdateData(false);
    EXPECT_EQ(PaneShows(), QString("x"));
}

TEST_F(FrameworkTest, PushShowsTheFirstLineAndLineScrollReachesTheLast) {
    for (int i = 0; i < 200; ++i)
        dlg.m_strPane += "row " + std::to_string(i) + "\r\n";
    dlg.UpdateData(false);
    EXPECT_GE(dlg.m_pane.GetLineCount(), 200);
    dlg.m_pane.LineScroll(dlg.m_pane.GetLineCount());
    const int bottom = dlg.m_pane.GetFirstVisibleLine();
    EXPECT_GT(bottom, 150);
    dlg.m_strPane += "row 200\r\n";
    dlg.UpdateData(false); // a push replaces the text: the view starts at the top again
    EXPECT_EQ(dlg.m_pane.GetFirstVisibleLine(), 0);
    // Left alone, the view itself is back at the top once the window has handled its events.
    QScrollBar* bar = Widget<afx::PaneEdit>(kPane)->verticalScrollBar();
    EXPECT_TRUE(PumpEventsUntil([&] { return bar->value() == 0; }, 2000));
    dlg.m_pane.LineScroll(dlg.m_pane.GetLineCount());
    EXPECT_GT(dlg.m_pane.GetFirstVisibleLine(), bottom);
}

TEST_F(FrameworkTest, APushOfTheSameTextLeavesThePaneWhereItIs) {
    for (int i = 0; i < 200; ++i)
        dlg.m_strPane += "row " + std::to_string(i) + "\r\n";
    dlg.UpdateData(false);
    dlg.m_pane.LineScroll(dlg.m_pane.GetLineCount());
    QScrollBar* bar = Widget<afx::PaneEdit>(kPane)->verticalScrollBar();
    const int bottom = dlg.m_pane.GetFirstVisibleLine();
    ASSERT_GT(bottom, 150);
    // The status alone pushed, once at the bottom and once scrolled up: the view stays, also
    // once the window has handled its events.
    for (const int at : {bottom, bottom - 40}) {
        dlg.m_pane.LineScroll(at - dlg.m_pane.GetFirstVisibleLine());
        dlg.m_strStatus = "status " + std::to_string(at);
        dlg.UpdateData(false);
        EXPECT_EQ(dlg.m_pane.GetFirstVisibleLine(), at);
        QCoreApplication::processEvents();
        EXPECT_EQ(bar->value(), at);
        EXPECT_EQ(dlg.m_pane.GetFirstVisibleLine(), at);
    }
    // A selection in the editor survives it too.
    auto* pane = Widget<afx::PaneEdit>(kPane);
    QTest::mouseClick(pane->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
    QPlainTextEdit* editor = pane->Editor();
    ASSERT_NE(editor, nullptr);
    QTextCursor selection(editor->document());
    selection.setPosition(2);
    selection.setPosition(9, QTextCursor::KeepAnchor);
    editor->setTextCursor(selection);
    editor->clearFocus();
    dlg.UpdateData(false);
    QCoreApplication::processEvents();
    ASSERT_EQ(pane->Editor(), editor);
    EXPECT_EQ(editor->textCursor().selectedText().size(), 7);
}

TEST_F(FrameworkTest, TimersTickByIdMergeWhileBusyAndStop) {
    dlg.SetTimer(1, 20);
    dlg.SetTimer(2, 20);
    ASSERT_TRUE(PumpEventsUntil([&] { return dlg.ticks[1] >= 2 && dlg.ticks[2] >= 2; }, 5000));
    EXPECT_TRUE(dlg.KillTimer(2));
    EXPECT_FALSE(dlg.KillTimer(2));
    EXPECT_FALSE(dlg.IsTimerRunning(2));
    const int stopped = dlg.ticks[2];

    // The thread is busy for ten periods; afterwards at most one tick of id 1 is owed.
    dlg.onTick = [&](UINT_PTR) {
        dlg.onTick = nullptr;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    };
    const int before = dlg.ticks[1];
    ASSERT_TRUE(PumpEventsUntil([&] { return !dlg.onTick; }, 5000));
    QElapsedTimer t;
    t.start();
    PumpEventsUntil([&] { return t.elapsed() >= 15; }, 1000);
    EXPECT_LE(dlg.ticks[1] - before, 3);
    EXPECT_EQ(dlg.ticks[2], stopped);
}

// The fast mode's serial side: an event that is set again after its first call is called again.
TEST_F(FrameworkTest, AnEventWatchCallsAgainForEachLaterSet) {
    ExpectAnEventWatchCallsAgainForEachLaterSet(dlg);
}

TEST_F(FrameworkTest, TimersKeepTickingWhileARealMessageBoxIsOpen) {
    dlg.SetTimer(1, 20);
    int during = 0;
    QTimer::singleShot(0, [&] {
        PumpEventsUntil(
            [] { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); }, 5000);
        const int start = dlg.ticks[1];
        PumpEventsUntil([&] { return dlg.ticks[1] >= start + 3; }, 5000);
        during = dlg.ticks[1] - start;
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->text(), QString::fromUtf8("问？"));
        EXPECT_EQ(box->windowTitle(), QString("Varnel"));
        QTest::keyClick(box, Qt::Key_Escape);
    });
    EXPECT_EQ(dlg.MessageBox("问？", nullptr, MB_YESNOCANCEL), IDCANCEL);
    EXPECT_GE(during, 3);
}

TEST_F(FrameworkTest, EnterPressesTheDefaultButtonFromAnyControlButTheFocusedButton) {
    auto* pane = Widget<afx::PaneEdit>(kPane);
    pane->setFocus();
    QTest::keyClick(pane, Qt::Key_Return);
    EXPECT_EQ(dlg.opens, 1);
    EXPECT_TRUE(PaneShows().isEmpty()); // no line break in the pane
    auto* port = Widget<QLineEdit>(kPort);
    port->setFocus();
    QTest::keyClick(port, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(dlg.opens, 2);
    auto* clear = Widget<QPushButton>(kClear);
    clear->setFocus();
    QTest::keyClick(clear, Qt::Key_Return);
    EXPECT_EQ(dlg.clears, 1);
    EXPECT_EQ(dlg.opens, 2);
    dlg.GetDlgItem(kOpen)->EnableWindow(false);
    port->setFocus();
    QTest::keyClick(port, Qt::Key_Return);
    EXPECT_EQ(dlg.opens, 2);
    EXPECT_FALSE(dlg.IsEnded()); // Enter never ends the dialog
}

TEST_F(FrameworkTest, EscAndTheCloseButtonAreTheCancelCommand) {
    auto* port = Widget<QLineEdit>(kPort);
    port->setFocus();
    QTest::keyClick(port, Qt::Key_Escape);
    EXPECT_EQ(dlg.cancels, 1);
    afx::WidgetOf(&dlg)->close();
    EXPECT_EQ(dlg.cancels, 2);
    EXPECT_TRUE(afx::WidgetOf(&dlg)->isVisible()); // the handler did not end it
    dlg.OnSysCommand(SC_CLOSE, 0);
    EXPECT_EQ(dlg.cancels, 3);
}

TEST_F(FrameworkTest, AddressControlReadsBlankFieldsAsZeroFirstFieldHigh) {
    DWORD a = 1;
    dlg.m_ip.SetWindowText("IPAddress1");
    EXPECT_EQ(dlg.m_ip.GetAddress(a), 0);
    EXPECT_EQ(a, 0u);
    dlg.m_ip.SetWindowText("10..300.x");
    EXPECT_EQ(dlg.m_ip.GetAddress(a), 2);
    EXPECT_EQ(a, 0x0A00FF00u);
    dlg.m_ip.ClearAddress();
    auto* ip = qobject_cast<afx::IpAddressWidget*>(afx::WidgetOf(&dlg.m_ip));
    ip->Field(0)->setFocus();
    for (char c : std::string("192.168.1.999")) // the focus moves on as a person types
        QTest::keyClick(QApplication::focusWidget(), c);
    EXPECT_EQ(dlg.m_ip.GetAddress(a), 4);
    EXPECT_EQ(a, 0xC0A801FFu);
    EXPECT_EQ(dlg.m_ip.GetWindowText(), "192.168.1.255");
}

TEST_F(FrameworkTest, ListSelectionNotifiesOnlyWhenTheUserChangesIt) {
    ASSERT_EQ(dlg.m_baud.GetCount(), 6); // filled from the template's initialisation data
    EXPECT_EQ(dlg.m_baud.SetCurSel(2), 2);
    EXPECT_EQ(dlg.m_baud.GetWindowText(), "9600");
    EXPECT_EQ(dlg.m_baud.SetCurSel(6), CB_ERR);
    EXPECT_EQ(dlg.m_baud.GetCurSel(), -1);
    EXPECT_EQ(dlg.m_baud.GetWindowText(), "");
    EXPECT_EQ(dlg.selChanges, 0);
    dlg.m_baud.SetCurSel(2);
    auto* combo = Widget<QComboBox>(kBaud);
    combo->setFocus();
    QTest::keyClick(combo, Qt::Key_Down);
    EXPECT_EQ(dlg.selChanges, 1);
    EXPECT_EQ(dlg.m_baud.GetCurSel(), 3);
    QTest::keyClicks(combo->lineEdit(), "7");
    EXPECT_EQ(dlg.m_baud.GetWindowText(), "384007"); // typed text stays, no completion
    EXPECT_EQ(dlg.selChanges, 1);
}

TEST(FrameworkModalTest, EachModalRunBuildsAFreshWindowAndDetachesItsControlsAtTheEnd) {
    EnsureQtApp();
    TestDlg dlg;
    std::vector<int> counts;
    SetModalHookForTest([&](CDialog& d) {
        auto& t = static_cast<TestDlg&>(d);
        counts.push_back(t.m_baud.GetCount());
        t.SetTimer(1, 10);
        d.EndDialog(IDOK);
    });
    EXPECT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(dlg.DoModal(), IDOK);
    SetModalHookForTest(nullptr);
    EXPECT_EQ(counts, (std::vector<int>{6, 6}));
    EXPECT_EQ(afx::WidgetOf(&dlg.m_baud), nullptr);
    EXPECT_EQ(dlg.m_baud.GetCurSel(), CB_ERR); // harmless once the window is gone
    EXPECT_FALSE(dlg.IsTimerRunning(1));
}

TEST_F(FrameworkTest, StatusLabelShowsMarkupAsPlainText) {
    dlg.m_strStatus = "<b>x</b>";
    dlg.UpdateData(false);
    auto* label = Widget<QLabel>(kComStatus);
    EXPECT_EQ(label->textFormat(), Qt::PlainText);
    EXPECT_EQ(label->text(), QString("<b>x</b>"));
}

} // namespace
