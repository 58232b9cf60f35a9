// The traffic panes: multi-line edits of 8-bit code page 936 text. Internal to the framework.
#pragma once

#include "app/framework/Afx.h"
#include "app/framework/PaneText.h"

#include <QAbstractScrollArea>
#include <QScrollBar>
#include <QTextOption>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

class QPainter;
class QPlainTextEdit;
class QTextLayout;

namespace afx {

// Scroll bar of a pane. The pane sets its range every time the text changes, and a new range
// repaints the bar and everything beneath it (frame, group box, window) even when the bar looks
// the same, as it does for a long text that grew by a few lines or lost as many at the top as
// it gained. Held, the bar paints nothing until the window next handles its events; then it is
// repainted only if its look changed meanwhile.
class PaneScrollBar : public QScrollBar {
    Q_OBJECT
public:
    explicit PaneScrollBar(QWidget* parent) : QScrollBar(Qt::Vertical, parent) {}
    void Hold();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // What the bar shows: where its slider is and whether either end is reached.
    struct Look {
        QRect slider;
        bool atMin = false;
        bool atMax = false;
        bool operator==(const Look&) const = default;
    };
    Look Current() const;
    void Release();
    Look m_painted;
    bool m_everPainted = false;
    bool m_held = false;
};

// Multi-line edit holding 8-bit code page 936 text, drawn exactly as the stock plain-text edit
// draws it (same wrapping, margins and line positions), but straight from the bytes: the pane
// keeps where each text line starts and lays out only the lines that come into view. A text that
// only grew at the end costs what was added, whatever its length.
//
// When the user works in the pane (a click, a key, a context menu), a stock editor takes over
// the text as shown, at the same place, and gets the event. While the text only grows and the
// user has typed nothing, the editor gets the new lines and a selection survives the traffic;
// otherwise the next write ends the editing and shows the new text, as writing a text into an
// edit control does.
class PaneEdit : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit PaneEdit(QWidget* parent);
    ~PaneEdit() override;
    // Shows the text of the member the pane is bound to. With its change account (generation,
    // bytes dropped at the front), a text that only grew at the end costs what was added. The
    // pane keeps no copy: the member stays the pane's text as long as its account is unchanged,
    // and it lives as long as the dialog's window.
    void SetText(const CString& text);
    // Shows the bytes of any other text; the pane keeps a copy, compared with the next one.
    void SetBytes(const std::string& bytes);
    // The bytes shown, or what the user made of them.
    std::string Bytes() const;
    void SetReadOnly(bool readOnly);
    // Display lines (a wrapped text line counts once for each of its rows; a line never laid
    // out counts once), the first one in view, and a scroll by display lines.
    int LineCount() const;
    int FirstVisibleLine() const;
    void ScrollLines(int lines);
    // How the bytes are drawn: decoded as GB18030 (broken sequences as U+FFFD), CR LF as one
    // line break.
    static QString Display(const char* data, std::size_t size);

    // What the pane shows, lines joined by LF: the text, or the editor's while the user edits.
    QString ShownText() const;
    // Text lines (without their breaks; after a final break comes an empty one), the rows a
    // line takes at the pane's width, and the text line drawn at a point of the viewport.
    int TextLines() const;
    QString TextLine(int line) const;
    int RowsOf(int line);
    int TextLineAt(QPoint point);
    // The editor while the user edits, else null.
    QPlainTextEdit* Editor() const { return m_editor; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;

private:
    struct Laid {
        std::unique_ptr<QTextLayout> layout;
        qreal bottom = 0;  // of the last row
        bool wide = false; // has characters beyond ASCII
    };
    void Show(const PaneText::Change& change);
    QString Decoded(std::size_t line) const;
    Laid& LayoutOf(std::size_t line);
    qreal HeightOf(std::size_t line);
    // The first row in view: its text line, its row in that line, and the line's top in the
    // viewport.
    struct TopRow {
        std::size_t line;
        int row;
        qreal y;
    };
    TopRow Top();
    void UpdateRange();
    void Relayout();
    void TrimLayouts();
    void Draw(QPainter& painter, const Laid& laid, qreal y, const QRectF& clip) const;
    void ResetView();
    void BeginEditing();
    void EndEditing();
    void Append(std::size_t from);
    void Forward(QObject* to, QEvent* event);
    qreal AvailableWidth() const;

    static constexpr int kMargin = 4; // around the text, as the stock edit keeps
    PaneScrollBar* m_bar;
    QPlainTextEdit* m_editor = nullptr;
    int m_editorRevision = 0;
    bool m_readOnly = false;
    QTextOption m_option;
    PaneText m_text;
    std::map<std::size_t, Laid> m_laid; // layouts of the lines in view or at the bottom
    std::size_t m_bottomFirst = 0;      // first line of the rows that fill the view at the bottom
    std::size_t m_paintedFirst = 0;
    std::size_t m_paintedLast = 0;
    bool m_rangeOwed = false;
    bool m_topPending = false; // the view owes a return to the first line
};

} // namespace afx
