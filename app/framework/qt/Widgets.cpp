#include "app/framework/qt/Widgets.h"

#include "app/framework/IpAddressText.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>

#include <algorithm>

namespace afx {

// ---------------------------------------------------------------------------------------------
DialogWidget::DialogWidget(CDialog* owner, QWidget* parent, Qt::WindowFlags flags)
    : QDialog(parent, flags), m_owner(owner) {}

void DialogWidget::Finish(int result) {
    m_finishing = true;
    QDialog::done(result);
    m_finishing = false;
}

void DialogWidget::closeEvent(QCloseEvent* event) {
    if (m_finishing) {
        event->accept();
        return;
    }
    // The close button is the cancel command; the dialog decides whether it ends.
    event->ignore();
    m_owner->OnCommand(IDCANCEL);
}

void DialogWidget::contextMenuEvent(QContextMenuEvent* event) {
    event->accept();
    m_owner->ShowSystemMenu(event->globalPos().x(), event->globalPos().y());
}

void DialogWidget::accept() {
    m_owner->OnCommand(IDOK);
}
void DialogWidget::reject() {
    m_owner->OnCommand(IDCANCEL);
}

// ---------------------------------------------------------------------------------------------
IpAddressWidget::IpAddressWidget(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);
    setFocusPolicy(Qt::NoFocus);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 0, 2, 0);
    layout->setSpacing(0);
    auto* validator =
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,3}")), this);
    for (std::size_t i = 0; i < m_fields.size(); ++i) {
        if (i > 0) {
            auto* dot = new QLabel(QStringLiteral("."), this);
            dot->setAlignment(Qt::AlignCenter);
            layout->addWidget(dot);
        }
        auto* field = new QLineEdit(this);
        field->setFrame(false);
        field->setAlignment(Qt::AlignCenter);
        field->setMaxLength(3);
        field->setValidator(validator);
        field->setContextMenuPolicy(Qt::NoContextMenu);
        field->installEventFilter(this);
        layout->addWidget(field, 1);
        m_fields[i] = field;
        connect(field, &QLineEdit::textEdited, this, [this, i](const QString& text) {
            bool ok = false;
            const int value = text.toInt(&ok);
            if (ok && value > 255)
                m_fields[i]->setText(QStringLiteral("255"));
            if (text.size() == 3 && i + 1 < m_fields.size()) {
                m_fields[i + 1]->setFocus();
                m_fields[i + 1]->selectAll();
            }
        });
    }
    setFocusProxy(m_fields[0]);
}

int IpAddressWidget::FieldIndex(QObject* o) const {
    for (std::size_t i = 0; i < m_fields.size(); ++i)
        if (m_fields[i] == o)
            return static_cast<int>(i);
    return -1;
}

bool IpAddressWidget::eventFilter(QObject* watched, QEvent* event) {
    const int i = FieldIndex(watched);
    if (i < 0 || event->type() != QEvent::KeyPress)
        return QFrame::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    QLineEdit* field = m_fields[static_cast<std::size_t>(i)];
    if ((key->key() == Qt::Key_Period || key->key() == Qt::Key_Space) && i < 3) {
        if (!field->text().isEmpty()) {
            m_fields[static_cast<std::size_t>(i + 1)]->setFocus();
            m_fields[static_cast<std::size_t>(i + 1)]->selectAll();
        }
        return true;
    }
    if (key->key() == Qt::Key_Backspace && i > 0 && field->cursorPosition() == 0 &&
        !field->hasSelectedText()) {
        QLineEdit* prev = m_fields[static_cast<std::size_t>(i - 1)];
        prev->setFocus();
        prev->end(false);
        return true;
    }
    return QFrame::eventFilter(watched, event);
}

int IpAddressWidget::Address(DWORD& address) const {
    address = 0;
    int filled = 0;
    for (QLineEdit* f : m_fields) {
        bool ok = false;
        const int value = std::clamp(f->text().toInt(&ok), 0, 255);
        if (ok)
            ++filled;
        address = (address << 8) | static_cast<DWORD>(ok ? value : 0);
    }
    return filled;
}

void IpAddressWidget::SetAddress(DWORD address) {
    for (std::size_t i = 0; i < m_fields.size(); ++i)
        m_fields[i]->setText(QString::number((address >> (24 - 8 * i)) & 0xFFu));
}

void IpAddressWidget::Clear() {
    for (QLineEdit* f : m_fields)
        f->clear();
}

bool IpAddressWidget::IsBlank() const {
    return std::all_of(m_fields.begin(), m_fields.end(),
                       [](QLineEdit* f) { return f->text().isEmpty(); });
}

void IpAddressWidget::SetText(const std::string& text) {
    Clear();
    const std::array<int, 4> values = ParseAddressFields(text);
    for (std::size_t i = 0; i < m_fields.size(); ++i)
        if (values[i] >= 0)
            m_fields[i]->setText(QString::number(values[i]));
}

std::string IpAddressWidget::Text() const {
    DWORD a = 0;
    Address(a);
    return AddressText(a);
}

// ---------------------------------------------------------------------------------------------
void SetWidgetText(QWidget* w, const std::string& text) {
    if (!w)
        return;
    if (auto* pane = qobject_cast<PaneEdit*>(w)) {
        pane->SetBytes(text);
        return;
    }
    const QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        if (edit->text() != s)
            edit->setText(s);
    } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
        combo->setEditText(s);
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        button->setText(s);
    } else if (auto* label = qobject_cast<QLabel*>(w)) {
        label->setText(s);
    } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
        group->setTitle(s);
    } else if (auto* ip = qobject_cast<IpAddressWidget*>(w)) {
        ip->SetText(text);
    } else {
        w->setWindowTitle(s);
    }
}

std::string WidgetText(const QWidget* w) {
    if (!w)
        return {};
    if (auto* pane = qobject_cast<const PaneEdit*>(w))
        return pane->Bytes();
    if (auto* ip = qobject_cast<const IpAddressWidget*>(w))
        return ip->Text();
    QString s;
    if (auto* edit = qobject_cast<const QLineEdit*>(w))
        s = edit->text();
    else if (auto* combo = qobject_cast<const QComboBox*>(w))
        s = combo->currentText();
    else if (auto* button = qobject_cast<const QAbstractButton*>(w))
        s = button->text();
    else if (auto* label = qobject_cast<const QLabel*>(w))
        s = label->text();
    else if (auto* group = qobject_cast<const QGroupBox*>(w))
        s = group->title();
    else
        s = w->windowTitle();
    return s.toStdString();
}

QFont DialogFont() {
    // 9 points at the 96 dots per inch the templates were laid out for.
    QFont font(QStringLiteral("WenQuanYi Micro Hei"));
    font.setPixelSize(12);
    // Hex digits and Latin text need no shaping, which costs more than the rest of drawing a
    // counter or a pane line: it is skipped where the script does not need it, and a Latin
    // kerning pair may sit a fraction of a pixel apart. Scripts that need it, and Chinese, which
    // has no kerning to lose, are drawn as before.
    font.setStyleStrategy(QFont::PreferNoShaping);
    return font;
}

} // namespace afx
