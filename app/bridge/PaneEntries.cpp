#include "app/bridge/PaneEntries.h"

#include <algorithm>

std::size_t CPaneEntries::Add(std::size_t nPaneSize, std::string_view strEntry) {
    // The line break that completes the entry comes after it.
    const auto nLines =
        static_cast<std::size_t>(std::count(strEntry.begin(), strEntry.end(), '\n')) + 1;
    m_entries.push_back({m_nDropped + nPaneSize, nLines});
    m_nLines += nLines;
    const std::size_t nSize = nPaneSize + strEntry.size();
    if (nSize <= PANE_TEXT_LIMIT && m_nLines <= PANE_LINE_LIMIT)
        return 0;
    const std::size_t nEnd = m_nDropped + nSize;
    while (m_entries.size() > 1 &&
           (nEnd - m_entries.front().start > PANE_TEXT_KEEP || m_nLines > PANE_LINE_KEEP)) {
        m_nLines -= m_entries.front().lines;
        m_entries.pop_front();
    }
    const std::size_t nCut = m_entries.front().start - m_nDropped;
    m_nDropped += nCut;
    return nCut;
}
