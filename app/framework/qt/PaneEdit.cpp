#include "app/framework/qt/PaneEdit.h"

#include "app/framework/qt/Widgets.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QGlyphRun>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QRawFont>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QStyleOptionSlider>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace afx {

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
namespace {

// Decodes as a fresh GB18030 decoder would. Opening the converter costs more than decoding a
// line: one per thread, reset for each text.
QString Decode(const char* data, std::size_t size) {
    // ASCII is the same in code page 936, and most lines are nothing else.
    if (std::all_of(data, data + size, [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return QString::fromLatin1(data, static_cast<qsizetype>(size));
    thread_local QStringDecoder decoder("GB18030");
    decoder.resetState();
    return decoder.isValid() ? decoder.decode(QByteArrayView(data, static_cast<qsizetype>(size)))
                             : QString::fromLatin1(data, static_cast<qsizetype>(size));
}

} // namespace

PaneEdit::PaneEdit(QWidget* parent) : QAbstractScrollArea(parent) {
    m_bar = new PaneScrollBar(this);
    setVerticalScrollBar(m_bar);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setAttribute(Qt::WA_InputMethodEnabled);
    viewport()->setCursor(Qt::IBeamCursor);
    setFont(DialogFont());
    m_option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
}

PaneEdit::~PaneEdit() = default;

QString PaneEdit::Display(const char* data, std::size_t size) {
    QString text = Decode(data, size);
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

void PaneEdit::SetText(const CString& text) {
    Show(m_text.SetText(text));
}

void PaneEdit::SetBytes(const std::string& bytes) {
    Show(m_text.SetBytes(bytes));
}

void PaneEdit::Show(const PaneText::Change& change) {
    // The same text again (a push of the status alone) leaves the pane as it is: at its bottom,
    // or where the user scrolled it, with the editor and its selection. Only what the user typed
    // is put back.
    if (!change.changed && !(m_editor && m_editor->document()->revision() != m_editorRevision))
        return;
    // A push is followed by a scroll to the last line: the bar is drawn once, where it ends up.
    m_bar->Hold();
    // The user keeps working in the editor while the text only grows and what they typed is
    // not at stake: a selection, a context menu or the caret survive the traffic.
    if (m_editor && !(change.grew && m_editor->document()->revision() == m_editorRevision &&
                      (m_editor->hasFocus() || m_editor->textCursor().hasSelection() ||
                       QApplication::activePopupWidget())))
        EndEditing();
    if (!change.grew)
        m_laid.clear();
    if (change.changed) {
        m_laid.erase(m_laid.lower_bound(change.from), m_laid.end());
        UpdateRange();
        viewport()->update();
        if (m_editor)
            Append(change.from);
    }
    ResetView();
}

// Writes the text lines from `from` on into the editor, in place of its blocks from there.
void PaneEdit::Append(std::size_t from) {
    QTextDocument* document = m_editor->document();
    const QTextBlock first = document->findBlockByNumber(static_cast<int>(from));
    if (!first.isValid()) {
        EndEditing();
        return;
    }
    QString tail;
    for (std::size_t i = from; i < m_text.LineCount(); ++i) {
        if (i > from)
            tail += QLatin1Char('\n');
        tail += Decoded(i);
    }
    QTextCursor cursor(document);
    cursor.setPosition(first.position());
    cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    cursor.insertText(tail);
    m_editorRevision = document->revision();
}

QString PaneEdit::Decoded(std::size_t line) const {
    if (!m_text.Shown() || line >= m_text.LineCount())
        return {};
    // Decoded with its break, as the whole text would be: a broken sequence at the end of a
    // line is then marked, and a cut one at the end of the text is not shown yet.
    const std::string_view bytes = m_text.LineBytes(line, true);
    const int brk = m_text.Lines()[line].brk;
    QString text = Decode(bytes.data(), bytes.size());
    for (int n = 0; n < brk && !text.isEmpty() &&
                    (text.back() == QLatin1Char('\n') || text.back() == QLatin1Char('\r'));
         ++n)
        text.chop(1);
    return text;
}

qreal PaneEdit::AvailableWidth() const {
    return viewport()->width() - 2 * kMargin;
}

PaneEdit::Laid& PaneEdit::LayoutOf(std::size_t line) {
    auto it = m_laid.find(line);
    if (it != m_laid.end())
        return it->second;
    // Laid out as the stock edit lays out a block: rows at the left margin, one under the other,
    // their leading included.
    Laid laid;
    const QString text = Decoded(line);
    laid.wide = std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() > 0x7F; });
    laid.layout = std::make_unique<QTextLayout>(text, font());
    QTextLayout& layout = *laid.layout;
    layout.setTextOption(m_option);
    layout.setCacheEnabled(true);
    layout.beginLayout();
    qreal height = 0;
    for (;;) {
        QTextLine row = layout.createLine();
        if (!row.isValid())
            break;
        row.setLeadingIncluded(true);
        row.setLineWidth(AvailableWidth());
        row.setPosition(QPointF(kMargin, height));
        height += row.height();
        if (row.leading() < 0)
            height += std::ceil(row.leading());
    }
    layout.endLayout();
    laid.bottom = layout.boundingRect().bottom();
    const int rows = std::max(1, layout.lineCount());
    m_text.SetRows(line, rows);
    return m_laid.emplace(line, std::move(laid)).first->second;
}

qreal PaneEdit::HeightOf(std::size_t line) {
    // The last line keeps the bottom margin under it.
    return LayoutOf(line).bottom + (line + 1 == m_text.LineCount() ? kMargin : 0);
}

PaneEdit::TopRow PaneEdit::Top() {
    const int first = m_topPending ? 0 : m_bar->value();
    auto [line, row] = m_text.Locate(first);
    const Laid& laid = LayoutOf(line);
    row = std::clamp(row, 0, laid.layout->lineCount() - 1);
    // The first row in view starts at the top edge; at the very top the margin is above it.
    qreal y = row > 0 ? -laid.layout->lineAt(row - 1).naturalTextRect().bottom() : 0;
    if (line == 0 && row == 0)
        y += kMargin;
    return {line, row, y};
}

void PaneEdit::UpdateRange() {
    m_rangeOwed = false;
    // The rows that fill the view from the bottom are the page; the last of them can be scrolled
    // to the top of the view no further than that.
    const qreal visible = viewport()->height() - kMargin - 1;
    qreal y = 0;
    int fromBottom = 0;
    m_bottomFirst = m_text.LineCount();
    for (std::size_t i = m_text.LineCount(); i-- > 0;) {
        y += HeightOf(i);
        m_bottomFirst = i;
        const QTextLayout& layout = *m_laid.at(i).layout;
        const int rows = layout.lineCount();
        if (y > visible) {
            // Of the line that reaches above the view, the rows that start in it.
            int row = 0;
            while (row < rows && layout.lineAt(row).naturalTextRect().top() < y - visible)
                ++row;
            fromBottom += rows - row;
            break;
        }
        fromBottom += rows;
    }
    m_bar->setPageStep(fromBottom);
    m_bar->setRange(0, std::max(0, m_text.Rows() - fromBottom));
    TrimLayouts();
}

void PaneEdit::TrimLayouts() {
    // Only the lines in view and those at the bottom keep their layouts (and glyphs).
    for (auto it = m_laid.begin(); it != m_laid.end();) {
        const std::size_t line = it->first;
        if (line < m_bottomFirst && (line < m_paintedFirst || line > m_paintedLast))
            it = m_laid.erase(it);
        else
            ++it;
    }
}

void PaneEdit::Relayout() {
    m_laid.clear();
    m_text.ResetRows();
    UpdateRange();
    viewport()->update();
}

void PaneEdit::paintEvent(QPaintEvent* event) {
    if (m_editor)
        return;
    QPainter painter(viewport());
    const QRect view = viewport()->rect();
    QRect clip = event->rect();
    // Keep the right margin clean, as the stock edit does.
    clip.setRight(std::min(clip.right(), view.width() - kMargin + 1));
    painter.setClipRect(clip);
    painter.setPen(palette().text().color());
    const int rowsBefore = m_text.Rows();
    auto [line, row, y] = Top();
    m_paintedFirst = line;
    for (; line < m_text.LineCount(); ++line) {
        const qreal height = HeightOf(line);
        if (y + height >= clip.top() && y <= clip.bottom())
            Draw(painter, m_laid.at(line), y, QRectF(clip));
        m_paintedLast = line;
        y += height;
        if (y > view.height())
            break;
    }
    // Lines laid out for the first time may take more rows than counted so far.
    if (m_text.Rows() != rowsBefore && !m_rangeOwed) {
        m_rangeOwed = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (m_rangeOwed)
                    UpdateRange();
            },
            Qt::QueuedConnection);
    }
    TrimLayouts();
}

void PaneEdit::Draw(QPainter& painter, const Laid& laid, qreal y, const QRectF& clip) const {
    if (!laid.wide) {
        laid.layout->draw(&painter, QPointF(0, y), {}, clip);
        return;
    }
    // Full-width characters (Chinese, mostly) are drawn at whole pixels. The font engine keeps
    // every glyph it has drawn once for each quarter-pixel position it was drawn at, and a pane
    // of Chinese text at fractional positions would keep four images of each of thousands of
    // characters. Latin text keeps its exact positions; a full-width glyph moves by less than
    // half a pixel.
    painter.save();
    painter.setClipRect(clip);
    const QTextLayout& layout = *laid.layout;
    for (int i = 0; i < layout.lineCount(); ++i) {
        const QTextLine row = layout.lineAt(i);
        const QRectF rect = row.rect().translated(0, y);
        if (rect.bottom() < clip.top() || rect.top() > clip.bottom())
            continue;
        for (QGlyphRun run : row.glyphRuns()) {
            const QRawFont font = run.rawFont();
            const QList<QPointF> advances = font.advancesForGlyphIndexes(run.glyphIndexes());
            QList<QPointF> positions = run.positions();
            const qreal fullWidth = font.pixelSize() - 0.5;
            for (qsizetype g = 0; g < positions.size() && g < advances.size(); ++g)
                if (advances[g].x() >= fullWidth)
                    positions[g].setX(std::round(positions[g].x()));
            run.setPositions(positions);
            painter.drawGlyphRun(QPointF(0, y), run);
        }
    }
    painter.restore();
}

void PaneEdit::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    if (m_editor)
        m_editor->setGeometry(rect());
    Relayout();
}

void PaneEdit::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        Relayout();
}

void PaneEdit::scrollContentsBy(int, int) {
    viewport()->update();
}

void PaneEdit::ResetView() {
    // The view goes back to the first line when the window next handles its events, unless the
    // caller scrolls first: a jump to the top followed at once by a scroll to the bottom would
    // lay out and draw both ends of the text, and nobody could ever see the top.
    if (m_topPending)
        return;
    m_topPending = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_topPending) {
                m_topPending = false;
                m_bar->setValue(0);
                viewport()->update();
            }
        },
        Qt::QueuedConnection);
}

int PaneEdit::LineCount() const {
    if (m_editor)
        return std::max(1, m_editor->document()->lineCount());
    return std::max(1, m_text.Rows());
}

int PaneEdit::FirstVisibleLine() const {
    if (m_editor)
        return m_editor->verticalScrollBar()->value();
    return m_topPending ? 0 : m_bar->value();
}

void PaneEdit::ScrollLines(int lines) {
    if (m_rangeOwed)
        UpdateRange();
    QScrollBar* bar = m_editor ? m_editor->verticalScrollBar() : m_bar;
    const int from = (m_topPending && !m_editor) ? 0 : bar->value();
    m_topPending = false;
    // A new value repaints the view; the same one leaves it as drawn.
    bar->setValue(from + lines);
}

std::string PaneEdit::Bytes() const {
    const char* shown = m_text.Shown();
    if (shown && (!m_editor || m_editor->document()->revision() == m_editorRevision))
        return std::string(shown, m_text.Size());
    QString text = ShownText();
    text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    QStringEncoder encoder("GB18030");
    const QByteArray bytes = encoder.isValid() ? QByteArray(encoder.encode(text)) : text.toLatin1();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

QString PaneEdit::ShownText() const {
    if (m_editor)
        return m_editor->toPlainText();
    QString text;
    for (std::size_t i = 0; i < m_text.LineCount(); ++i) {
        if (i > 0)
            text += QLatin1Char('\n');
        text += Decoded(i);
    }
    return text;
}

int PaneEdit::TextLines() const {
    return m_editor ? m_editor->document()->blockCount() : static_cast<int>(m_text.LineCount());
}

QString PaneEdit::TextLine(int line) const {
    if (m_editor)
        return m_editor->document()->findBlockByNumber(line).text();
    return line >= 0 ? Decoded(static_cast<std::size_t>(line)) : QString();
}

int PaneEdit::RowsOf(int line) {
    if (line < 0 || static_cast<std::size_t>(line) >= m_text.LineCount())
        return 0;
    return LayoutOf(static_cast<std::size_t>(line)).layout->lineCount();
}

int PaneEdit::TextLineAt(QPoint point) {
    // As a click puts the caret: a point under the last line is on the last line.
    auto [line, row, y] = Top();
    for (; line + 1 < m_text.LineCount(); ++line) {
        y += HeightOf(line);
        if (point.y() < y)
            break;
    }
    return static_cast<int>(line);
}

void PaneEdit::SetReadOnly(bool readOnly) {
    m_readOnly = readOnly;
    if (m_editor)
        m_editor->setReadOnly(readOnly);
}

// ---------------------------------------------------------------------------------------------
// Editing: a stock editor over the whole pane, showing the same rows at the same places.

void PaneEdit::BeginEditing() {
    if (m_editor)
        return;
    const TopRow top = Top();
    auto* editor = new QPlainTextEdit(this);
    editor->setFont(font());
    editor->setUndoRedoEnabled(false);
    editor->setTabChangesFocus(true);
    editor->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    editor->setWordWrapMode(m_option.wrapMode());
    editor->setVerticalScrollBarPolicy(verticalScrollBarPolicy());
    editor->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    editor->setFrameStyle(frameStyle());
    editor->setReadOnly(m_readOnly);
    editor->setGeometry(rect());
    QWidget::setTabOrder(this, editor);
    editor->show();
    editor->raise();
    editor->setPlainText(ShownText());
    // The same first row as the view: lay out the blocks in view, so that the range counts their
    // rows, then scroll to that row.
    const QTextBlock block = editor->document()->findBlockByNumber(static_cast<int>(top.line));
    qreal height = top.y;
    for (QTextBlock b = block; b.isValid() && height < viewport()->height(); b = b.next())
        height += editor->document()->documentLayout()->blockBoundingRect(b).height();
    editor->verticalScrollBar()->setValue(block.firstLineNumber() + top.row);
    m_editor = editor;
    m_editorRevision = editor->document()->revision();
    const bool focused = hasFocus();
    setFocusProxy(editor);
    if (focused)
        editor->setFocus();
}

void PaneEdit::EndEditing() {
    if (!m_editor)
        return;
    QPlainTextEdit* editor = m_editor;
    m_editor = nullptr;
    setFocusProxy(nullptr);
    if (editor->hasFocus())
        setFocus();
    editor->hide();
    // The write may come from inside one of the editor's own events (a key the window acts
    // on): it goes once those are done.
    editor->deleteLater();
}

void PaneEdit::Forward(QObject* to, QEvent* event) {
    const std::unique_ptr<QEvent> copy(event->clone());
    QCoreApplication::sendEvent(to, copy.get());
    event->setAccepted(copy->isAccepted());
}

void PaneEdit::mousePressEvent(QMouseEvent* event) {
    BeginEditing();
    Forward(m_editor->viewport(), event);
}

void PaneEdit::mouseMoveEvent(QMouseEvent* event) {
    if (m_editor)
        Forward(m_editor->viewport(), event);
}

void PaneEdit::mouseReleaseEvent(QMouseEvent* event) {
    if (m_editor)
        Forward(m_editor->viewport(), event);
}

void PaneEdit::mouseDoubleClickEvent(QMouseEvent* event) {
    BeginEditing();
    Forward(m_editor->viewport(), event);
}

void PaneEdit::contextMenuEvent(QContextMenuEvent* event) {
    BeginEditing();
    Forward(m_editor->viewport(), event);
    event->accept();
}

void PaneEdit::keyPressEvent(QKeyEvent* event) {
    BeginEditing();
    Forward(m_editor, event);
}

void PaneEdit::inputMethodEvent(QInputMethodEvent* event) {
    BeginEditing();
    Forward(m_editor, event);
}

} // namespace afx
