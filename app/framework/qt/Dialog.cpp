// Dialogs from templates: building, binding and the push, command routing, timers, system menu.
#include "app/framework/Afx.h"
#include "app/framework/DialogCore.h"
#include "app/framework/Hooks.h"
#include "app/framework/qt/Internal.h"
#include "app/framework/qt/QtWindow.h"
#include "app/framework/qt/Widgets.h"
#include "res/Resources.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <atomic>

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

void InstallDialogKeys() {
    static QPointer<DialogKeys> keys;
    if (!keys) {
        keys = new DialogKeys;
        keys->setParent(qApp);
        qApp->installEventFilter(keys);
    }
}

// Dialog units to pixels, from the average character width and the height of the font.
struct DialogUnits {
    explicit DialogUnits(const QFont& font) {
        QFontMetrics fm(font);
        const int width = fm.horizontalAdvance(
            QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
        baseX = std::max(1, (width / 26 + 1) / 2);
        baseY = std::max(1, fm.height());
    }
    int X(int dlu) const { return (dlu * baseX + 2) / 4; }
    int Y(int dlu) const { return (dlu * baseY + 4) / 8; }
    QRect Rect(int x, int y, int cx, int cy) const { return QRect(X(x), Y(y), X(cx), Y(cy)); }
    int baseX;
    int baseY;
};

} // namespace

namespace {

// What a listener on an event shares with the window's thread: whether the watch is
// still wanted, and whether a call is already on its way (so that a burst of sets is one call).
struct EventWatchState {
    std::atomic<bool> live{true};
    std::atomic<bool> posted{false};
};

struct Watch {
    std::unique_ptr<QSocketNotifier> notifier; // a socket's watch
    void* event = nullptr;                     // an event's watch
    std::shared_ptr<EventWatchState> state;
};

} // namespace

struct CDialog::Impl : CDialog::Core {
    QPointer<DialogWidget> widget;
    std::map<UINT_PTR, QTimer*> timers;
    std::map<UINT_PTR, Watch> watches;
    std::unique_ptr<CMenu> sysMenu;
};

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd)
    : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd), m_pImpl(std::make_unique<Impl>()) {}

CDialog::~CDialog() {
    EndWatches();
    delete m_pImpl->widget.data();
}

void CDialog::DoDataExchange(CDataExchange*) {}
void CDialog::BuildMessageMap(CMessageMap&) {}

bool CDialog::Build() {
    if (m_pImpl->widget)
        return true;
    const res::DialogTemplate* tpl = res::FindDialog(static_cast<int>(m_nIDTemplate));
    if (!tpl || !qApp)
        return false;
    m_pImpl->tpl = tpl;
    InstallDialogKeys();

    QWidget* parent = m_pParentWnd ? afx::WidgetOf(m_pParentWnd) : nullptr;
    if (!parent && AfxGetApp() && AfxGetApp()->m_pMainWnd && AfxGetApp()->m_pMainWnd != this)
        parent = afx::WidgetOf(AfxGetApp()->m_pMainWnd);
    Qt::WindowFlags flags =
        (parent ? Qt::Dialog : Qt::Window) | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (tpl->style & WS_SYSMENU)
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (tpl->style & WS_MINIMIZEBOX)
        flags |= Qt::WindowMinimizeButtonHint;
    auto* dlg = new DialogWidget(this, parent, flags);
    m_pImpl->widget = dlg;
    Attach(afx::HandleOf(dlg), 0);
    dlg->setWindowTitle(QString::fromUtf8(tpl->caption));
    dlg->setFont(afx::DialogFont());
    const DialogUnits du(dlg->font());
    dlg->setFixedSize(du.X(tpl->cx), du.Y(tpl->cy));
    if (tpl->style & WS_SYSMENU) {
        m_pImpl->sysMenu = std::make_unique<CMenu>();
        m_pImpl->sysMenu->AppendMenu(MF_STRING, SC_MINIMIZE, "最小化(&N)");
        m_pImpl->sysMenu->AppendMenu(MF_STRING, SC_CLOSE, "关闭(&C)");
    }

    QWidget* lastTab = nullptr;
    std::vector<QWidget*> groupBoxes;
    for (const res::DialogItem& item : tpl->items) {
        const QRect r = du.Rect(item.x, item.y, item.cx, item.cy);
        const QString text = QString::fromUtf8(item.text);
        QWidget* w = nullptr;
        QWidget* tabStop = nullptr;
        switch (item.cls) {
        case res::ControlClass::Button: {
            const std::uint32_t kind = item.style & BS_TYPEMASK;
            if (kind == BS_GROUPBOX) {
                auto* g = new QGroupBox(text, dlg);
                g->setAttribute(Qt::WA_TransparentForMouseEvents);
                groupBoxes.push_back(g);
                w = g;
            } else if (kind == BS_AUTOCHECKBOX) {
                w = new QCheckBox(text, dlg);
            } else {
                auto* b = new QPushButton(text, dlg);
                if (kind == BS_DEFPUSHBUTTON) {
                    b->setDefault(true);
                    m_pImpl->defId = item.id;
                }
                w = b;
            }
            const int id = item.id;
            if (kind != BS_GROUPBOX)
                QObject::connect(static_cast<QAbstractButton*>(w), &QAbstractButton::clicked, dlg,
                                 [this, id] { OnCommand(id); });
            w->setGeometry(r);
            break;
        }
        case res::ControlClass::Edit: {
            if (item.style & ES_MULTILINE) {
                auto* pane = new afx::PaneEdit(dlg);
                pane->SetReadOnly(item.style & ES_READONLY);
                pane->setVerticalScrollBarPolicy(
                    (item.style & WS_VSCROLL) ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
                w = pane;
            } else {
                auto* edit = new QLineEdit(text, dlg);
                edit->setFrame(item.style & WS_BORDER);
                edit->setReadOnly(item.style & ES_READONLY);
                if (item.style & ES_NUMBER)
                    edit->setValidator(new QRegularExpressionValidator(
                        QRegularExpression(QStringLiteral("[0-9]*")), edit));
                w = edit;
            }
            w->setGeometry(r);
            break;
        }
        case res::ControlClass::Static: {
            auto* label = new QLabel(dlg);
            if ((item.style & SS_TYPEMASK) == SS_ICON) {
                const auto paths = res::IconImagePaths(std::atoi(item.text));
                if (!paths.empty())
                    label->setPixmap(QPixmap(QString::fromStdString(paths.back())));
                label->setGeometry(r.x(), r.y(), 32, 32);
            } else {
                label->setTextFormat(Qt::PlainText);
                label->setText(text);
                label->setWordWrap((item.style & SS_TYPEMASK) == SS_LEFT);
                label->setAlignment(
                    ((item.style & SS_TYPEMASK) == SS_CENTER ? Qt::AlignHCenter : Qt::AlignLeft) |
                    Qt::AlignTop);
                label->setGeometry(r);
            }
            w = label;
            break;
        }
        case res::ControlClass::ComboBox: {
            auto* combo = new QComboBox(dlg);
            combo->setEditable(true);
            combo->setInsertPolicy(QComboBox::NoInsert);
            combo->setCompleter(nullptr);
            combo->setProperty("afxSorted", bool(item.style & CBS_SORT));
            combo->setEditText(text);
            const int fieldHeight = combo->sizeHint().height();
            const int itemHeight = std::max(1, QFontMetrics(dlg->font()).height() + 2);
            combo->setMaxVisibleItems(std::max(1, (r.height() - fieldHeight) / itemHeight + 1));
            combo->setGeometry(r.x(), r.y(), r.width(), fieldHeight);
            const int id = item.id;
            QObject::connect(combo, &QComboBox::activated, dlg, [this, id] { OnSelChange(id); });
            w = combo;
            break;
        }
        case res::ControlClass::IpAddress: {
            auto* ip = new afx::IpAddressWidget(dlg);
            ip->setGeometry(r);
            ip->SetText(item.text);
            w = ip;
            for (int i = 0; i < 4; ++i) {
                QWidget* f = ip->Field(i);
                if (item.style & WS_TABSTOP) {
                    if (lastTab)
                        QWidget::setTabOrder(lastTab, f);
                    lastTab = f;
                }
            }
            break;
        }
        }
        w->setObjectName(QString::number(item.id));
        if (item.style & WS_DISABLED)
            w->setEnabled(false);
        if (item.cls != res::ControlClass::IpAddress) {
            if (item.style & WS_TABSTOP) {
                tabStop = w;
                w->setFocusPolicy(Qt::StrongFocus);
                if (lastTab)
                    QWidget::setTabOrder(lastTab, tabStop);
                lastTab = tabStop;
            } else if (qobject_cast<QAbstractButton*>(w) || qobject_cast<QComboBox*>(w) ||
                       qobject_cast<afx::PaneEdit*>(w) || qobject_cast<QLineEdit*>(w)) {
                w->setFocusPolicy(Qt::ClickFocus);
            }
        }
        auto handle = std::make_unique<CWnd>();
        handle->Attach(afx::HandleOf(w), item.id);
        m_pImpl->items.push_back(std::move(handle));
    }
    // Group boxes only frame the controls around them: drawn behind, never taking clicks.
    for (QWidget* g : groupBoxes)
        g->lower();

    BuildMessageMap(m_pImpl->map);
    return true;
}

void CDialog::RunInitialisation() {
    m_bEnded = false;
    m_nResult = 0;
    DialogWidget* dlg = m_pImpl->widget;
    const res::DialogTemplate* tpl = m_pImpl->tpl;
    // A template at 0, 0 opens centred on its owner, or on the screen.
    if (tpl->x == 0 && tpl->y == 0) {
        const QWidget* owner = dlg->parentWidget();
        const QRect area = owner ? owner->window()->frameGeometry()
                                 : (dlg->screen() ? dlg->screen()->availableGeometry() : QRect());
        if (area.isValid())
            dlg->move(area.center() - QPoint(dlg->width() / 2, dlg->height() / 2));
    }
    if (OnInitDialog()) {
        for (const auto& item : m_pImpl->items) {
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
}

int CDialog::DoModal() {
    if (!Build())
        return -1;
    RunInitialisation();
    if (m_bEnded)
        return m_nResult;
    DialogWidget* dlg = m_pImpl->widget;
    if (auto hook = afx::g_modalHook) {
        QTimer::singleShot(0, dlg, [this, hook] {
            if (!m_bEnded)
                hook(*this);
        });
    }
    dlg->exec();
    if (!m_bEnded)
        EndDialog(IDCANCEL);
    DestroyWindow();
    return m_nResult;
}

void CDialog::DestroyWindow() {
    // Like a destroyed window's, the control objects lose their controls; a later DoModal
    // builds and binds everything afresh.
    m_pImpl->Release();
    m_pImpl->timers.clear();
    EndWatches();
    m_pImpl->sysMenu.reset();
    delete m_pImpl->widget.data();
    Attach(nullptr, 0);
}

bool CDialog::Create() {
    if (!Build())
        return false;
    RunInitialisation();
    if (!m_bEnded)
        m_pImpl->widget->show();
    return true;
}

void CDialog::EndDialog(int nResult) {
    m_bEnded = true;
    m_nResult = nResult;
    for (auto& [id, timer] : m_pImpl->timers)
        timer->stop();
    if (m_pImpl->widget)
        m_pImpl->widget->Finish(nResult);
}

void CDialog::OnSysCommand(UINT nID, LPARAM) {
    switch (nID & 0xFFF0u) {
    case SC_MINIMIZE:
        if (m_pImpl->widget)
            m_pImpl->widget->showMinimized();
        break;
    case SC_CLOSE:
        OnCommand(IDCANCEL);
        break;
    default:
        break;
    }
}

CDialog::Core& CDialog::GetCore() const {
    return *m_pImpl;
}

bool CDialog::IsBuilt() const {
    return m_pImpl->widget != nullptr;
}
void CDialog::SetIcon(HICON hIcon, bool) {
    if (m_pImpl->widget && hIcon)
        m_pImpl->widget->setWindowIcon(afx::IconOf(hIcon));
}

CMenu* CDialog::GetSystemMenu(bool) {
    Build();
    return m_pImpl->sysMenu.get();
}

void CDialog::ShowSystemMenu() {
    if (QWidget* w = m_pImpl->widget) {
        const QPoint at = w->mapToGlobal(QPoint(0, 0));
        ShowSystemMenu(at.x(), at.y());
    }
}

void CDialog::ShowSystemMenu(int xScreen, int yScreen) {
    DialogWidget* dlg = m_pImpl->widget;
    if (!dlg || !m_pImpl->sysMenu || m_bEnded)
        return;
    QMenu menu(dlg);
    menu.setObjectName(QStringLiteral("afxSystemMenu"));
    for (const CMenu::Item& item : m_pImpl->sysMenu->Items()) {
        if (item.flags & MF_SEPARATOR) {
            menu.addSeparator();
            continue;
        }
        QAction* action = menu.addAction(QString::fromStdString(item.text));
        action->setData(QVariant::fromValue<qulonglong>(item.id));
        if (item.id == SC_MINIMIZE && !(m_pImpl->tpl->style & WS_MINIMIZEBOX))
            action->setEnabled(false);
    }
    if (QAction* chosen = menu.exec(QPoint(xScreen, yScreen)))
        OnSysCommand(static_cast<UINT>(chosen->data().toULongLong()), 0);
}

UINT_PTR CDialog::SetTimer(UINT_PTR nIDEvent, UINT nElapse) {
    DialogWidget* dlg = m_pImpl->widget;
    if (!dlg || nIDEvent == 0)
        return 0;
    QTimer*& timer = m_pImpl->timers[nIDEvent];
    if (!timer) {
        timer = new QTimer(dlg);
        QObject::connect(timer, &QTimer::timeout, dlg, [this, nIDEvent] { OnTimer(nIDEvent); });
    }
    timer->setSingleShot(false);
    timer->setTimerType(Qt::CoarseTimer);
    timer->start(static_cast<int>(std::max<UINT>(nElapse, 10)));
    return nIDEvent;
}

UINT_PTR CDialog::SetOneShotTimer(UINT_PTR nIDEvent, UINT nElapse) {
    if (SetTimer(nIDEvent, 10) == 0)
        return 0;
    QTimer* timer = m_pImpl->timers[nIDEvent];
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    timer->start(static_cast<int>(std::max<UINT>(nElapse, 1)));
    return nIDEvent;
}

bool CDialog::KillTimer(UINT_PTR nIDEvent) {
    auto it = m_pImpl->timers.find(nIDEvent);
    if (it == m_pImpl->timers.end() || !it->second->isActive())
        return false;
    it->second->stop();
    return true;
}

bool CDialog::IsTimerRunning(UINT_PTR nIDEvent) const {
    auto it = m_pImpl->timers.find(nIDEvent);
    return it != m_pImpl->timers.end() && it->second->isActive();
}

void CDialog::OnWatch(UINT_PTR) {}

bool CDialog::WatchSocket(UINT_PTR nID, std::intptr_t socket, bool bWritable) {
    Unwatch(nID);
    DialogWidget* dlg = m_pImpl->widget;
    if (!dlg || socket < 0)
        return false;
    auto notifier = std::make_unique<QSocketNotifier>(
        static_cast<qintptr>(socket), bWritable ? QSocketNotifier::Write : QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, dlg,
                     [this, nID] { OnWatch(nID); });
    m_pImpl->watches[nID].notifier = std::move(notifier);
    return true;
}

bool CDialog::WatchEvent(UINT_PTR nID, void* hEvent) {
    Unwatch(nID);
    DialogWidget* dlg = m_pImpl->widget;
    if (!dlg)
        return false;
    auto state = std::make_shared<EventWatchState>();
    // The listener runs on the thread that sets the event; it only posts a call to this thread.
    // The window outlives the listener: Unwatch, which every ending of the window goes through,
    // returns only when the listener is gone, and calls still queued die with the window.
    auto notify = [this, dlg, nID, state] {
        if (!state->live.load() || state->posted.exchange(true))
            return;
        QMetaObject::invokeMethod(
            dlg,
            [this, nID, state] {
                state->posted.store(false);
                if (state->live.load())
                    OnWatch(nID);
            },
            Qt::QueuedConnection);
    };
    if (!afx::g_eventListener || !afx::g_eventListener(hEvent, std::move(notify)))
        return false;
    Watch& watch = m_pImpl->watches[nID];
    watch.event = hEvent;
    watch.state = std::move(state);
    return true;
}

void CDialog::Unwatch(UINT_PTR nID) {
    auto it = m_pImpl->watches.find(nID);
    if (it == m_pImpl->watches.end())
        return;
    if (it->second.state) {
        it->second.state->live.store(false);
        afx::g_eventListener(it->second.event, nullptr);
    }
    m_pImpl->watches.erase(it);
}

bool CDialog::IsWatching(UINT_PTR nID) const {
    return m_pImpl->watches.count(nID) != 0;
}

void CDialog::EndWatches() {
    while (!m_pImpl->watches.empty())
        Unwatch(m_pImpl->watches.begin()->first);
}

int CDialog::MessageBox(const std::string& text, const char* lpszCaption, UINT nType) {
    return afx::ShowMessageBox(afx::HandleOf(m_pImpl->widget), text, lpszCaption, nType);
}

// ---------------------------------------------------------------------------------------------
void DDX_Text(CDataExchange* pDX, int nIDC, CString& value) {
    CWnd* item = pDX->m_pDlgWnd->GetDlgItem(nIDC);
    if (!item)
        return;
    if (pDX->m_bSaveAndValidate) {
        value = item->GetWindowText();
    } else if (auto* pane = qobject_cast<afx::PaneEdit*>(afx::WidgetOf(item))) {
        pane->SetText(value);
    } else {
        item->SetWindowText(value.Str());
    }
}

void DDX_Text(CDataExchange* pDX, int nIDC, std::string& value) {
    CWnd* item = pDX->m_pDlgWnd->GetDlgItem(nIDC);
    if (!item)
        return;
    if (pDX->m_bSaveAndValidate)
        value = item->GetWindowText();
    else
        item->SetWindowText(value);
}
