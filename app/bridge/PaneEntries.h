// Where each entry of a traffic pane starts, so that the pane keeps its newest entries and drops
// the oldest ones whole. Past PANE_TEXT_LIMIT bytes or PANE_LINE_LIMIT lines, entries are dropped
// from the top until at most PANE_TEXT_KEEP bytes and PANE_LINE_KEEP lines are left. Lines count
// too because the window's memory goes by lines as much as by bytes: a pane of short lines costs
// far more than one of long lines. The log keeps everything.
#pragma once

#include <cstddef>
#include <deque>
#include <string_view>

inline constexpr std::size_t PANE_TEXT_LIMIT = 4u << 20;
inline constexpr std::size_t PANE_TEXT_KEEP = 3u << 20;
inline constexpr std::size_t PANE_LINE_LIMIT = 20000;
inline constexpr std::size_t PANE_LINE_KEEP = 15000;

class CPaneEntries {
public:
    // An entry of nLength bytes with the given line breaks (its closing one, which follows it, not
    // counted) is added at the end of a pane of nPaneSize bytes. Returns how many bytes to cut
    // from the top of the pane, entry included, so that it keeps to the limits; 0 for none.
    std::size_t Add(std::size_t nPaneSize, std::string_view strEntry);

private:
    struct Entry {
        std::size_t start; // counted from the first byte ever shown in the pane
        std::size_t lines; // line breaks in the entry, the closing one included
    };
    std::deque<Entry> m_entries;
    std::size_t m_nDropped = 0; // bytes dropped from the top so far
    std::size_t m_nLines = 0;   // line breaks in the pane
};
