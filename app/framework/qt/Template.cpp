// Dialogs from the templates of res/: the window and its controls, laid out in dialog units.
#include "app/framework/TemplateItems.h"
#include "app/framework/qt/DialogImpl.h"
#include "app/framework/qt/QtWindow.h"
#include "res/Resources.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>

#include <algorithm>
#include <cstdlib>

using afx::DialogWidget;

namespace {

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

HWND CDialog::Core::MakeWindow(const res::DialogTemplate& tpl, HWND ownerWindow) {
    if (!qApp)
        return nullptr;
    afx::InstallDialogKeys();
    QWidget* parent = afx::WidgetOf(ownerWindow);
    Qt::WindowFlags flags =
        (parent ? Qt::Dialog : Qt::Window) | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (tpl.style & WS_SYSMENU)
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (tpl.style & WS_MINIMIZEBOX)
        flags |= Qt::WindowMinimizeButtonHint;
    auto* dlg = new DialogWidget(owner, parent, flags);
    impl->widget = dlg;
    dlg->setWindowTitle(QString::fromUtf8(tpl.caption));
    dlg->setFont(afx::DialogFont());
    const DialogUnits du(dlg->font());
    dlg->setFixedSize(du.X(tpl.cx), du.Y(tpl.cy));
    return afx::HandleOf(dlg);
}

void CDialog::Core::BuildControls(const res::DialogTemplate& tpl) {
    DialogWidget* dlg = impl->widget;
    const DialogUnits du(dlg->font());
    QWidget* lastTab = nullptr;
    std::vector<QWidget*> groupBoxes;
    for (const res::DialogItem& item : tpl.items) {
        const QRect r = du.Rect(item.x, item.y, item.cx, item.cy);
        const QString text = QString::fromUtf8(item.text);
        QWidget* w = nullptr;
        QWidget* tabStop = nullptr;
        const int id = item.id;
        switch (afx::KindOf(item)) {
        case afx::ItemKind::GroupBox: {
            auto* g = new QGroupBox(text, dlg);
            g->setAttribute(Qt::WA_TransparentForMouseEvents);
            groupBoxes.push_back(g);
            w = g;
            w->setGeometry(r);
            break;
        }
        case afx::ItemKind::CheckBox:
        case afx::ItemKind::PushButton: {
            auto* b = afx::KindOf(item) == afx::ItemKind::CheckBox
                          ? static_cast<QAbstractButton*>(new QCheckBox(text, dlg))
                          : new QPushButton(text, dlg);
            if (auto* push = qobject_cast<QPushButton*>(b))
                push->setDefault(id == defId);
            QObject::connect(b, &QAbstractButton::clicked, dlg,
                             [o = owner, id] { o->OnCommand(id); });
            w = b;
            w->setGeometry(r);
            break;
        }
        case afx::ItemKind::Pane: {
            auto* pane = new afx::PaneEdit(dlg);
            pane->SetReadOnly(item.style & ES_READONLY);
            pane->setVerticalScrollBarPolicy((item.style & WS_VSCROLL) ? Qt::ScrollBarAlwaysOn
                                                                       : Qt::ScrollBarAlwaysOff);
            w = pane;
            w->setGeometry(r);
            break;
        }
        case afx::ItemKind::Edit: {
            auto* edit = new QLineEdit(text, dlg);
            edit->setFrame(item.style & WS_BORDER);
            edit->setReadOnly(item.style & ES_READONLY);
            if (item.style & ES_NUMBER)
                edit->setValidator(new QRegularExpressionValidator(
                    QRegularExpression(QStringLiteral("[0-9]*")), edit));
            w = edit;
            w->setGeometry(r);
            break;
        }
        case afx::ItemKind::Icon: {
            auto* label = new QLabel(dlg);
            const auto paths = res::IconImagePaths(std::atoi(item.text));
            if (!paths.empty())
                label->setPixmap(QPixmap(QString::fromStdString(paths.back())));
            label->setGeometry(r.x(), r.y(), 32, 32);
            w = label;
            break;
        }
        case afx::ItemKind::Static: {
            auto* label = new QLabel(dlg);
            label->setTextFormat(Qt::PlainText);
            label->setText(text);
            label->setWordWrap((item.style & SS_TYPEMASK) == SS_LEFT);
            label->setAlignment(
                ((item.style & SS_TYPEMASK) == SS_CENTER ? Qt::AlignHCenter : Qt::AlignLeft) |
                Qt::AlignTop);
            label->setGeometry(r);
            w = label;
            break;
        }
        case afx::ItemKind::ComboBox: {
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
            QObject::connect(combo, &QComboBox::activated, dlg,
                             [o = owner, id] { o->OnSelChange(id); });
            w = combo;
            break;
        }
        case afx::ItemKind::Ip: {
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
        items.push_back(std::move(handle));
    }
    // Group boxes only frame the controls around them: drawn behind, never taking clicks.
    for (QWidget* g : groupBoxes)
        g->lower();
}
