// The Qt backend's test seams: the event loop run until a condition holds, and what a user does
// and sees, on Qt's own widgets.
#include "app/framework/TestHooks.h"
#include "app/framework/qt/QtWindow.h"
#include "app/framework/qt/Widgets.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QLabel>

#include <algorithm>

bool PumpEventsUntil(const std::function<bool()>& done, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return done();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

void EnsureGuiForTest() {
    static int argc = 1;
    static char arg0[] = "varnel-test";
    static char* argv[] = {arg0, nullptr};
    if (!qApp) {
        new QApplication(argc, argv); // lives until the process ends
        AfxInitGui();
    }
}

void ClickForTest(const CWnd& button) {
    auto* b = qobject_cast<QAbstractButton*>(afx::WidgetOf(&button));
    if (b && b->isEnabled())
        b->click();
}

void ChooseForTest(const CWnd& list, int index) {
    if (auto* combo = qobject_cast<QComboBox*>(afx::WidgetOf(&list))) {
        combo->setCurrentIndex(index);
        emit combo->activated(index);
    }
}

std::string ShownTextForTest(const CWnd& wnd) {
    if (auto* pane = qobject_cast<afx::PaneEdit*>(afx::WidgetOf(&wnd)))
        return pane->ShownText().toStdString();
    return wnd.GetWindowText();
}

int TextWidthForTest(const CWnd& wnd, const std::string& text) {
    QWidget* w = afx::WidgetOf(&wnd);
    return w ? w->fontMetrics().horizontalAdvance(QString::fromStdString(text)) : 0;
}

int TextRoomForTest(const CWnd& wnd) {
    QWidget* w = afx::WidgetOf(&wnd);
    if (auto* label = qobject_cast<QLabel*>(w))
        return label->contentsRect().width() - 2 * label->margin() - std::max(label->indent(), 0);
    return w ? w->contentsRect().width() : 0;
}

bool IsShownForTest(const CWnd& wnd) {
    QWidget* w = afx::WidgetOf(&wnd);
    return w && w->isVisible();
}

void SystemCommandForTest(CDialog& dlg, UINT id) {
    dlg.OnSysCommand(id, 0);
}

void CloseForTest(CDialog& dlg) {
    if (QWidget* w = afx::WidgetOf(&dlg))
        w->close();
}
