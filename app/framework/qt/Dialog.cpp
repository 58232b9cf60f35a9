// The Qt backend's dialog: its keys, its life as a window (shown, run modal, finished, destroyed)
// and its system menu, which is ours here: the window manager owns the title bar's.
#include "app/framework/Internal.h"
#include "app/framework/qt/DialogImpl.h"
#include "app/framework/qt/Internal.h"
#include "app/framework/qt/QtWindow.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

using afx::DialogWidget;

namespace {

// Keys that the dialog handles before any control sees them: Enter presses the focused push
// button or else the default button, Esc is the cancel command, Alt+Space opens the system menu.
class DialogKeys : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
            return false;
        auto* dlg = qobject_cast<DialogWidget*>(static_cast<QWidget*>(watched)->window());
        if (!dlg)
            return false;
        auto* key = static_cast<QKeyEvent*>(event);
        switch (key->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter: {
            auto* focus = qobject_cast<QPushButton*>(QApplication::focusWidget());
            if (focus && focus->window() == dlg) {
                focus->click();
            } else if (int id = dlg->Owner()->GetDefID()) {
                CWnd* button = dlg->Owner()->GetDlgItem(id);
                if (button && button->IsWindowEnabled())
                    dlg->Owner()->OnCommand(id);
            }
            return true;
        }
        case Qt::Key_Escape:
            dlg->Owner()->OnCommand(IDCANCEL);
            return true;
        case Qt::Key_Space:
            if (key->modifiers() & Qt::AltModifier) {
                dlg->Owner()->ShowSystemMenu();
                return true;
            }
            return false;
        default:
            return false;
        }
    }
};

} // namespace

void afx::InstallDialogKeys() {
    static QPointer<DialogKeys> keys;
    if (!keys) {
        keys = new DialogKeys;
        keys->setParent(qApp);
        qApp->installEventFilter(keys);
    }
}

CDialog::Core::Core(CDialog* o) : owner(o), impl(std::make_unique<Impl>()) {}

CDialog::Core::~Core() {
    delete impl->widget.data();
}

HWND CDialog::Core::Window() const {
    return afx::HandleOf(impl->widget);
}

void afx::CheckSystemMenuItem(HWND, UINT, bool) {} // the menu is made from the items when shown

void CDialog::Core::FillSystemMenu(CMenu& menu) {
    menu.AppendMenu(MF_STRING, SC_MINIMIZE, "最小化(&N)");
    menu.AppendMenu(MF_STRING, SC_CLOSE, "关闭(&C)");
}

void CDialog::Core::Centre() {
    DialogWidget* dlg = impl->widget;
    const QWidget* parent = dlg->parentWidget();
    const QRect area = parent ? parent->window()->frameGeometry()
                              : (dlg->screen() ? dlg->screen()->availableGeometry() : QRect());
    if (area.isValid())
        dlg->move(area.center() - QPoint(dlg->width() / 2, dlg->height() / 2));
}

void CDialog::Core::Initialised(bool focusFirst) {
    if (!focusFirst)
        return;
    for (const auto& item : items) {
        QWidget* w = afx::WidgetOf(item.get());
        if (w->focusPolicy() & Qt::TabFocus && w->isEnabled()) {
            w->setFocus(Qt::TabFocusReason);
            break;
        }
        if (auto* ip = qobject_cast<afx::IpAddressWidget*>(w)) {
            ip->Field(0)->setFocus(Qt::TabFocusReason);
            break;
        }
    }
}

void CDialog::Core::RunModal(std::function<void()> first) {
    if (first)
        QTimer::singleShot(0, impl->widget.data(), std::move(first));
    impl->widget->exec();
    // Closed some other way than through the dialog's commands.
    if (!owner->IsEnded())
        owner->EndDialog(IDCANCEL);
}

void CDialog::Core::Show() {
    impl->widget->show();
}

void CDialog::Core::Finish(int result) {
    impl->widget->Finish(result);
}

void CDialog::Core::Minimise() {
    impl->widget->showMinimized();
}

void CDialog::Core::SetIcon(const IconResource& icon, bool) {
    impl->widget->setWindowIcon(afx::IconOf(&icon));
}

void CDialog::Core::DestroyWindow() {
    delete impl->widget.data();
}

void CDialog::ShowSystemMenu() {
    if (QWidget* w = GetImpl().widget) {
        const QPoint at = w->mapToGlobal(QPoint(0, 0));
        ShowSystemMenu(at.x(), at.y());
    }
}

void CDialog::ShowSystemMenu(int xScreen, int yScreen) {
    DialogWidget* dlg = GetImpl().widget;
    if (!dlg || !GetCore().sysMenu || m_bEnded)
        return;
    QMenu menu(dlg);
    menu.setObjectName(QStringLiteral("afxSystemMenu"));
    for (const CMenu::Item& item : GetCore().sysMenu->Items()) {
        if (item.flags & MF_SEPARATOR) {
            menu.addSeparator();
            continue;
        }
        QAction* action = menu.addAction(QString::fromStdString(item.text));
        action->setData(QVariant::fromValue<qulonglong>(item.id));
        if (item.id == SC_MINIMIZE && !(GetCore().tpl->style & WS_MINIMIZEBOX))
            action->setEnabled(false);
        if (item.flags & MF_CHECKED) {
            action->setCheckable(true);
            action->setChecked(true);
        }
    }
    if (QAction* chosen = menu.exec(QPoint(xScreen, yScreen)))
        OnSysCommand(static_cast<UINT>(chosen->data().toULongLong()), 0);
}

bool afx::SetPaneText(HWND wnd, const CString& text) {
    auto* pane = qobject_cast<PaneEdit*>(WidgetOf(wnd));
    if (!pane)
        return false;
    pane->SetText(text);
    return true;
}
