// The bookkeeping of a traffic pane, shared by the backends: which bytes the pane shows (the
// bound member while its change account says it only grew, or a copy of any other text), where
// each text line starts in them, and how many display rows each line takes once the backend laid
// it out. Decoding, layout and drawing belong to the backend.
#pragma once

#include "app/framework/String.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace afx {

class PaneText {
public:
    // One text line: its bytes [begin, end), the 0 to 2 bytes of the break after it (LF, CR or
    // CR LF), and the rows it takes (1 until the backend laid it out).
    struct Line {
        std::size_t begin;
        std::size_t end;
        std::uint8_t brk;
        int rows;
    };
    // What a write changed: whether the new text is the old one with more at its end, and
    // whether the lines from `from` on changed (the lines before it are as they were).
    struct Change {
        bool grew;
        bool changed;
        std::size_t from;
    };

    PaneText();
    // The member the pane is bound to. The pane keeps no copy: the member stays the text as long
    // as its account is unchanged, and it must outlive the pane.
    Change SetText(const CString& text);
    // Any other text; a copy is kept and compared with the next one.
    Change SetBytes(const std::string& bytes);

    // The bytes shown (Size() of them), or null once the member changed other than at its end.
    const char* Shown() const;
    std::size_t Size() const { return m_size; }
    const std::vector<Line>& Lines() const { return m_lines; }
    std::size_t LineCount() const { return m_lines.size(); }
    // The bytes of a text line, with or without its break.
    std::string_view LineBytes(std::size_t line, bool withBreak = false) const;
    // The text line that holds byte `offset`, and the offset of a line's start.
    std::size_t LineOf(std::size_t offset) const;

    // Display rows: the sum over the lines, a line's count once laid out, and all lines back to
    // one row each (a new width or font).
    int Rows() const { return m_rows; }
    void SetRows(std::size_t line, int rows);
    void ResetRows();
    // The text line and its row at a display line (clamped to the text).
    std::pair<std::size_t, int> Locate(int displayLine) const;

private:
    Change Show(const std::string& bytes, bool grew);
    void Index(const std::string& bytes, std::size_t from);

    std::vector<Line> m_lines;
    int m_rows = 0;
    std::size_t m_reindexFrom = 0;     // first line that more bytes at the end may change
    const CString* m_source = nullptr; // the bound member last written
    std::string m_copy;                // a text from elsewhere, last written
    std::size_t m_size = 0;            // bytes last written
    std::uint64_t m_generation = 0;    // change account of the member last written
    std::size_t m_dropped = 0;
};

} // namespace afx
