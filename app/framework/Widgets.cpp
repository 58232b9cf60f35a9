#include "app/framework/Widgets.h"

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
#include <QScrollBar>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QStyleOptionSlider>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <cstring>
#include <malloc.h>

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
PaneScrollBar::Look PaneScrollBar::Current() const {
    QStyleOptionSlider option;
    initStyleOption(&option);
    return {
        style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this),
        value() == minimum(), value() == maximum()};
}

void PaneScrollBar::Hold() {
    // Only a bar whose updates are on is held, so that Release never turns on what another
    // owner (a hidden or frozen window) turned off.
    if (m_held || !updatesEnabled())
        return;
    m_held = true;
    // Set directly: switching updates back on through setUpdatesEnabled repaints the bar.
    setAttribute(Qt::WA_UpdatesDisabled, true);
    QMetaObject::invokeMethod(
        this, [this] { Release(); }, Qt::QueuedConnection);
}

void PaneScrollBar::Release() {
    if (!m_held)
        return;
    m_held = false;
    setAttribute(Qt::WA_UpdatesDisabled, false);
    if (!m_everPainted || !(Current() == m_painted))
        update();
}

void PaneScrollBar::paintEvent(QPaintEvent* event) {
    QScrollBar::paintEvent(event);
    m_painted = Current();
    m_everPainted = true;
}

// ---------------------------------------------------------------------------------------------
PaneEdit::PaneEdit(QWidget* parent) : QPlainTextEdit(parent) {
    m_bar = new PaneScrollBar(this);
    setVerticalScrollBar(m_bar);
    setUndoRedoEnabled(false);
    setTabChangesFocus(true);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The panes show hex digits and Latin text, which look the same without shaping: skip it
    // where the script does not need it. Scripts that do (and Chinese, which has no kerning to
    // lose) are drawn as before.
    QFont font = DialogFont();
    font.setStyleStrategy(QFont::PreferNoShaping);
    setFont(font);
    // Emitted before the view lays out what changed.
    connect(document(), &QTextDocument::contentsChange, this,
            [this](int from, int, int added) { KeepGlyphs(from, added); });
    m_revision = document()->revision();
}

int PaneEdit::LastLinesKept() const {
    return viewport()->height() / std::max(1, fontMetrics().lineSpacing()) + 2;
}

void PaneEdit::KeepGlyphs(int from, int added) {
    // Without this, every repaint shapes the lines it draws again.
    const QTextBlock first = document()->findBlock(from);
    QTextBlock block = document()->findBlock(from + added);
    for (int n = LastLinesKept(); n > 0 && block.isValid(); --n, block = block.previous()) {
        if (!block.layout()->cacheEnabled()) {
            block.layout()->setCacheEnabled(true);
            m_glyphsKept.push_back(block);
        }
        if (block == first)
            break;
    }
}

void PaneEdit::DropGlyphs(bool all) {
    if (all) {
        // The whole text is about to be replaced, and every block with it; the user may
        // already have removed some of these blocks.
        m_glyphsKept.clear();
        return;
    }
    const int keepFrom = document()->blockCount() - LastLinesKept();
    std::erase_if(m_glyphsKept, [&](QTextBlock& block) {
        if (block.blockNumber() >= keepFrom)
            return false;
        // A text of its own frees a block's layout; the view lays the line out again from the
        // block's text if it ever comes into view.
        block.layout()->setCacheEnabled(false);
        block.layout()->setText(QString());
        return true;
    });
}

QString PaneEdit::Display(const char* data, std::size_t size) {
    // Opening the converter costs more than decoding a block: one per thread, reset for each
    // text so that every text decodes as with a fresh one.
    thread_local QStringDecoder decoder("GB18030");
    decoder.resetState();
    QString text = decoder.isValid()
                       ? decoder.decode(QByteArrayView(data, static_cast<qsizetype>(size)))
                       : QString::fromLatin1(data, static_cast<qsizetype>(size));
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

void PaneEdit::SetText(const CString& text) {
    // A text that lost lines at the top (a bounded pane, now and then) is written whole: removing
    // the lines from the document would leave their characters in its buffer and keep the layouts
    // of every line that ever came into view, while a fresh document lays out only what is shown.
    const bool grew = m_source == &text && text.Generation() == m_generation &&
                      text.DroppedFront() == m_dropped && text.size() >= m_size;
    Show(text.Str(), grew);
    m_source = &text;
    m_generation = text.Generation();
    m_dropped = text.DroppedFront();
    m_copy.clear();
    m_copy.shrink_to_fit();
}

void PaneEdit::SetBytes(const std::string& bytes) {
    const std::string* shown = Shown();
    const bool grew = shown && bytes.size() >= shown->size() &&
                      std::memcmp(bytes.data(), shown->data(), shown->size()) == 0;
    Show(bytes, grew);
    m_copy = bytes;
    m_source = nullptr;
}

const std::string* PaneEdit::Shown() const {
    if (!m_source)
        return &m_copy;
    if (m_source->Generation() == m_generation && m_source->DroppedFront() == m_dropped &&
        m_source->size() == m_size)
        return &m_source->Str();
    return nullptr;
}

// Writes `bytes`; with `grew`, they are what was written last and more at the end.
void PaneEdit::Show(const std::string& bytes, bool grew) {
    // A push is followed by a scroll to the last line: the bar is drawn once, where it ends up.
    m_bar->Hold();
    const bool untouched = document()->revision() == m_revision;
    // Every line that came into view keeps a layout until its block goes, so after many new
    // lines the text is written whole again, which leaves layouts only for what is in view.
    if (document()->blockCount() - m_blocksWritten > kLinesBetweenRewrites)
        grew = false;
    DropGlyphs(!(untouched && grew));
    const std::size_t lf = bytes.rfind('\n');
    const std::size_t stable = lf == std::string::npos ? 0 : lf + 1;
    if (untouched && grew) {
        if (bytes.size() > m_size) {
            // Redraw only from the last line break on: a multi-byte character or a CR LF pair
            // may have been cut by the previous write, never a line break.
            const QString tail = Display(bytes.data() + m_stable, bytes.size() - m_stable);
            QTextCursor cursor(document());
            cursor.setPosition(m_stableChars);
            cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
            cursor.insertText(tail);
            if (stable == bytes.size()) {
                m_stableChars += static_cast<int>(tail.size());
                m_stable = stable;
            }
        }
    } else {
        const bool large = m_size >= (1u << 20);
        const QString all = Display(bytes.data(), bytes.size());
        setPlainText(all);
        // The old document was many small blocks; hand the pages they leave free back to the
        // system, or they stay resident until chance fills them again.
        if (large)
            malloc_trim(0);
        m_stable = 0;
        m_stableChars = 0;
        if (stable == bytes.size()) {
            m_stable = stable;
            m_stableChars = static_cast<int>(all.size());
        }
    }
    if (stable > m_stable) {
        m_stableChars +=
            static_cast<int>(Display(bytes.data() + m_stable, stable - m_stable).size());
        m_stable = stable;
    }
    if (!(untouched && grew))
        m_blocksWritten = document()->blockCount();
    m_size = bytes.size();
    ResetView();
    m_revision = document()->revision();
}

std::string PaneEdit::Bytes() const {
    if (document()->revision() == m_revision)
        if (const std::string* shown = Shown())
            return *shown;
    QString text = toPlainText();
    text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    QStringEncoder encoder("GB18030");
    const QByteArray bytes = encoder.isValid() ? QByteArray(encoder.encode(text)) : text.toLatin1();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

void PaneEdit::ResetView() {
    // A replaced text shows from its first line with the caret at the start. The caret is set
    // only when it is elsewhere: setting it makes the view lay out the first lines at once.
    const QTextCursor caret = textCursor();
    if (caret.position() != 0 || caret.hasSelection()) {
        QTextCursor cursor(document());
        cursor.movePosition(QTextCursor::Start);
        setTextCursor(cursor);
    }
    horizontalScrollBar()->setValue(0);
    // The view goes back to the first line when the window next handles its events, unless the
    // caller scrolls first: a jump to the top followed at once by a scroll to the bottom would
    // make the view lay out both ends of the text, and nobody could ever see the top.
    if (!m_topPending) {
        m_topPending = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (m_topPending) {
                    m_topPending = false;
                    verticalScrollBar()->setValue(0);
                }
            },
            Qt::QueuedConnection);
    }
}

int PaneEdit::LineCount() const {
    // The document keeps the sum of its display lines; no walk over the blocks.
    return std::max(1, document()->lineCount());
}

int PaneEdit::FirstVisibleLine() const {
    return m_topPending ? 0 : verticalScrollBar()->value();
}

void PaneEdit::ScrollLines(int lines) {
    QScrollBar* bar = verticalScrollBar();
    const int from = m_topPending ? 0 : bar->value();
    m_topPending = false;
    bar->setValue(from + lines);
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
    // Dotted decimal; a part that is not one to three digits leaves its field blank, a value
    // above 255 shows as 255.
    Clear();
    std::size_t start = 0;
    for (QLineEdit* f : m_fields) {
        if (start > text.size())
            break;
        std::size_t dot = text.find('.', start);
        if (dot == std::string::npos)
            dot = text.size();
        const std::string part = text.substr(start, dot - start);
        if (!part.empty() && part.size() <= 3 &&
            std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; }))
            f->setText(QString::number(std::min(std::stoi(part), 255)));
        start = dot + 1;
    }
}

std::string IpAddressWidget::Text() const {
    DWORD a = 0;
    Address(a);
    return std::to_string(a >> 24) + "." + std::to_string((a >> 16) & 0xFF) + "." +
           std::to_string((a >> 8) & 0xFF) + "." + std::to_string(a & 0xFF);
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
    return font;
}

} // namespace afx
