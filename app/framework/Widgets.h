// Qt widgets behind the framework's windows and controls. Internal to the framework.
#pragma once

#include "app/framework/Afx.h"

#include <QDialog>
#include <QFrame>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>

#include <array>
#include <string>
#include <vector>

class QLineEdit;

namespace afx {

// The window of a CDialog. Esc, the close button and the accept key go to the dialog's command
// routing; a right click on the background opens the system menu.
class DialogWidget : public QDialog {
    Q_OBJECT
public:
    DialogWidget(CDialog* owner, QWidget* parent, Qt::WindowFlags flags);
    CDialog* Owner() const { return m_owner; }
    // Ends the dialog's loop (or hides a dialog that has none) without asking anybody.
    void Finish(int result);

protected:
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

public:
    void accept() override;
    void reject() override;

private:
    CDialog* m_owner;
    bool m_finishing = false;
};

// Scroll bar of a pane. The view sets its range every time the text changes, and a new range
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

// Multi-line edit holding 8-bit code page 936 text. Writing a text that only extends what was
// written last (and that the user has not edited since) appends just the new part.
class PaneEdit : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit PaneEdit(QWidget* parent);
    // Shows the text of the member the pane is bound to. With its change account (generation,
    // bytes dropped at the front), a text that only grew at the end costs what was added. The
    // pane keeps no copy: the member stays the pane's text as long as its account is unchanged,
    // and it lives as long as the dialog's window.
    void SetText(const CString& text);
    // Shows the bytes of any other text; the pane keeps a copy, compared with the next one.
    void SetBytes(const std::string& bytes);
    std::string Bytes() const;
    int LineCount() const;
    int FirstVisibleLine() const;
    void ScrollLines(int lines);
    // How the bytes are drawn: decoded as GB18030 (broken sequences as U+FFFD), CR LF as one
    // line break.
    static QString Display(const char* data, std::size_t size);

private:
    void Show(const std::string& bytes, bool grew);
    // The lines at the end of a change are laid out at once for the view; their glyphs are kept
    // for drawing them, and dropped once the lines are no longer among the last ones.
    void KeepGlyphs(int from, int added);
    void DropGlyphs(bool all);
    int LastLinesKept() const;
    // The bytes last written, if still known: the bound member while its account is unchanged,
    // or the copy of a text from elsewhere.
    const std::string* Shown() const;
    void ResetView();
    PaneScrollBar* m_bar;
    std::vector<QTextBlock> m_glyphsKept;
    const CString* m_source = nullptr; // the bound member last written
    std::string m_copy;                // a text from elsewhere, last written
    std::size_t m_size = 0;            // bytes last written
    static constexpr int kLinesBetweenRewrites = 4000;
    int m_blocksWritten = 0;        // blocks after the last time the text was written whole
    std::size_t m_stable = 0;       // bytes up to the last LF written; their drawing never changes
    int m_stableChars = 0;          // document position where the drawing of the rest starts
    int m_revision = -1;            // document revision after the last write
    std::uint64_t m_generation = 0; // change account of the member last written
    std::size_t m_dropped = 0;
    bool m_topPending = false; // the view owes a return to the first line
};

// IPv4 address control: four fields of up to three digits separated by dots.
class IpAddressWidget : public QFrame {
    Q_OBJECT
public:
    explicit IpAddressWidget(QWidget* parent);
    int Address(DWORD& address) const;
    void SetAddress(DWORD address);
    void Clear();
    bool IsBlank() const;
    void SetText(const std::string& text);
    std::string Text() const;
    QLineEdit* Field(int i) const { return m_fields[static_cast<std::size_t>(i)]; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int FieldIndex(QObject* o) const;
    std::array<QLineEdit*, 4> m_fields{};
};

// Window text of any framework widget: UTF-8, or the bytes of a PaneEdit.
void SetWidgetText(QWidget* w, const std::string& text);
std::string WidgetText(const QWidget* w);

// The font that stands in for the templates' 9-point SimSun.
QFont DialogFont();

} // namespace afx
