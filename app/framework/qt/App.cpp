// The application object, start-up, message boxes and icons.
#include "app/framework/Afx.h"
#include "app/framework/TestHooks.h"
#include "app/framework/qt/Internal.h"
#include "app/framework/qt/QtWindow.h"
#include "app/framework/qt/Widgets.h"
#include "app/platform/Socket.h"
#include "res/Resources.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QMessageBox>
#include <QPushButton>

#include <malloc.h>
#include <map>
#include <utility>

namespace {

std::function<int(const MessageBoxCall&)> g_answerer;
std::function<void(CDialog&)> g_modalHook;

} // namespace

namespace afx {

int ShowMessageBox(QWidget* owner, const std::string& text, const char* caption, UINT type) {
    const std::string title = caption ? caption : AfxGetAppName();
    if (g_answerer)
        return g_answerer(MessageBoxCall{text, title, type});

    QMessageBox box(owner);
    box.setWindowTitle(QString::fromStdString(title));
    box.setText(QString::fromStdString(text));
    box.setTextFormat(Qt::PlainText);
    switch (type & MB_ICONMASK) {
    case MB_ICONHAND:
        box.setIcon(QMessageBox::Critical);
        break;
    case MB_ICONQUESTION:
        box.setIcon(QMessageBox::Question);
        break;
    case MB_ICONEXCLAMATION:
        box.setIcon(QMessageBox::Warning);
        break;
    case MB_ICONASTERISK:
        box.setIcon(QMessageBox::Information);
        break;
    default:
        break;
    }
    std::map<QAbstractButton*, int> results;
    auto add = [&](const char* label, QMessageBox::ButtonRole role, int result) {
        QPushButton* b = box.addButton(QString::fromUtf8(label), role);
        results[b] = result;
        return b;
    };
    QPushButton* first = nullptr;
    QPushButton* escape = nullptr;
    switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL:
        first = add("确定", QMessageBox::AcceptRole, IDOK);
        escape = add("取消", QMessageBox::RejectRole, IDCANCEL);
        break;
    case MB_YESNOCANCEL:
        first = add("是(&Y)", QMessageBox::YesRole, IDYES);
        add("否(&N)", QMessageBox::NoRole, IDNO);
        escape = add("取消", QMessageBox::RejectRole, IDCANCEL);
        break;
    case MB_YESNO:
        first = add("是(&Y)", QMessageBox::YesRole, IDYES);
        add("否(&N)", QMessageBox::NoRole, IDNO);
        break;
    default:
        first = escape = add("确定", QMessageBox::AcceptRole, IDOK);
        break;
    }
    box.setDefaultButton(first);
    if (escape)
        box.setEscapeButton(escape);
    box.exec();
    auto it = results.find(box.clickedButton());
    if (it != results.end())
        return it->second;
    return escape ? results[escape] : IDNO;
}

std::function<void(CDialog&)> ModalHook() {
    return g_modalHook;
}

QIcon IconOf(HICON icon) {
    QIcon result;
    if (icon)
        for (const std::string& path : res::IconImagePaths(static_cast<int>(icon->id)))
            result.addFile(QString::fromStdString(path));
    return result;
}

} // namespace afx

void SetMessageBoxAnswererForTest(std::function<int(const MessageBoxCall&)> answerer) {
    g_answerer = std::move(answerer);
}

void SetModalHookForTest(std::function<void(CDialog&)> hook) {
    g_modalHook = std::move(hook);
}

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

// ---------------------------------------------------------------------------------------------
int AfxMessageBox(const std::string& text, UINT nType) {
    QWidget* owner = nullptr;
    if (AfxGetApp() && AfxGetApp()->m_pMainWnd)
        owner = afx::WidgetOf(AfxGetApp()->m_pMainWnd);
    return afx::ShowMessageBox(owner, text, nullptr, nType);
}

int AfxMessageBox(UINT nIDPrompt, UINT nType) {
    return AfxMessageBox(AfxLoadString(nIDPrompt), nType);
}

bool AfxSocketInit() {
    return sock::WSAStartup() == 0;
}

void AfxInitGui() {
    // The panes hold texts of megabytes that are replaced whole now and then. Blocks that large
    // get pages of their own, which go back to the system when freed; left to itself, the
    // allocator raises that threshold after the first such free and keeps the freed megabytes
    // in its heap for good.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
    QApplication::setFont(afx::DialogFont());
    QCoreApplication::setApplicationName(QString::fromUtf8(AfxGetAppName()));
    QCoreApplication::setApplicationVersion(QString::fromStdString(res::VersionText()));
}

int AfxWinMain(int argc, char** argv) {
    QApplication app(argc, argv);
    AfxInitGui();
    CWinApp* pApp = AfxGetApp();
    if (!pApp)
        return 1;
    int result = 0;
    if (pApp->InitInstance())
        result = QApplication::exec();
    const int exitCode = pApp->ExitInstance();
    return result ? result : exitCode;
}

// ---------------------------------------------------------------------------------------------
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
