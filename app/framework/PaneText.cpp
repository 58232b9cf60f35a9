#include "app/framework/PaneText.h"

#include <algorithm>
#include <cstring>

namespace afx {

PaneText::PaneText() {
    Index(m_copy, 0);
}

PaneText::Change PaneText::SetText(const CString& text) {
    // A text that lost lines at the top (a bounded pane, now and then) is indexed again whole.
    const bool grew = m_source == &text && text.Generation() == m_generation &&
                      text.DroppedFront() == m_dropped && text.size() >= m_size;
    m_source = &text;
    m_generation = text.Generation();
    m_dropped = text.DroppedFront();
    m_copy.clear();
    m_copy.shrink_to_fit();
    return Show(text.Str(), grew);
}

PaneText::Change PaneText::SetBytes(const std::string& bytes) {
    const char* shown = Shown();
    const bool grew =
        shown && bytes.size() >= m_size && std::memcmp(bytes.data(), shown, m_size) == 0;
    m_copy = bytes;
    m_source = nullptr;
    return Show(m_copy, grew);
}

const char* PaneText::Shown() const {
    if (!m_source)
        return m_copy.data();
    // A member that only grew since still starts with what is shown.
    if (m_source->Generation() == m_generation && m_source->DroppedFront() == m_dropped &&
        m_source->size() >= m_size)
        return m_source->Str().data();
    return nullptr;
}

PaneText::Change PaneText::Show(const std::string& bytes, bool grew) {
    if (!grew) {
        m_lines.clear();
        m_rows = 0;
        m_reindexFrom = 0;
    }
    // The same text again (the other pane's push) changes nothing.
    if (grew && bytes.size() == m_size && !m_lines.empty())
        return {true, false, m_lines.size()};
    const std::size_t from = m_reindexFrom;
    Index(bytes, from);
    m_size = bytes.size();
    return {grew, true, from};
}

// Indexes the text lines of `bytes` from text line `from` on; the lines before it are unchanged.
void PaneText::Index(const std::string& bytes, std::size_t from) {
    std::size_t pos = 0;
    if (from < m_lines.size()) {
        pos = m_lines[from].begin;
        for (std::size_t i = from; i < m_lines.size(); ++i)
            m_rows -= m_lines[i].rows;
        m_lines.resize(from);
    }
    const char* data = bytes.data();
    const std::size_t size = bytes.size();
    for (;;) {
        std::size_t end = pos;
        while (end < size && data[end] != '\n' && data[end] != '\r')
            ++end;
        if (end == size) {
            m_lines.push_back({pos, size, 0, 1});
            ++m_rows;
            break;
        }
        const std::uint8_t brk =
            (data[end] == '\r' && end + 1 < size && data[end + 1] == '\n') ? 2 : 1;
        m_lines.push_back({pos, end, brk, 1});
        ++m_rows;
        pos = end + brk;
    }
    // The last line may still grow; a CR at the very end may yet be the start of a CR LF.
    m_reindexFrom = m_lines.size() - 1;
    if (size > 0 && data[size - 1] == '\r' && m_reindexFrom > 0)
        --m_reindexFrom;
}

std::string_view PaneText::LineBytes(std::size_t line, bool withBreak) const {
    const char* bytes = Shown();
    if (!bytes || line >= m_lines.size())
        return {};
    const Line& l = m_lines[line];
    return {bytes + l.begin, l.end - l.begin + (withBreak ? l.brk : 0)};
}

std::size_t PaneText::LineOf(std::size_t offset) const {
    auto it = std::upper_bound(m_lines.begin(), m_lines.end(), offset,
                               [](std::size_t o, const Line& l) { return o < l.begin; });
    return it == m_lines.begin() ? 0 : static_cast<std::size_t>(it - m_lines.begin() - 1);
}

void PaneText::SetRows(std::size_t line, int rows) {
    if (line >= m_lines.size())
        return;
    m_rows += rows - m_lines[line].rows;
    m_lines[line].rows = rows;
}

void PaneText::ResetRows() {
    for (Line& line : m_lines)
        line.rows = 1;
    m_rows = static_cast<int>(m_lines.size());
}

std::pair<std::size_t, int> PaneText::Locate(int displayLine) const {
    int rest = std::clamp(displayLine, 0, std::max(0, m_rows - 1));
    if (rest <= m_rows / 2) {
        for (std::size_t i = 0; i < m_lines.size(); ++i) {
            if (rest < m_lines[i].rows)
                return {i, rest};
            rest -= m_lines[i].rows;
        }
        return {m_lines.size() - 1, 0};
    }
    int fromEnd = m_rows - rest;
    for (std::size_t i = m_lines.size(); i-- > 0;) {
        fromEnd -= m_lines[i].rows;
        if (fromEnd <= 0)
            return {i, -fromEnd};
    }
    return {0, 0};
}

} // namespace afx
