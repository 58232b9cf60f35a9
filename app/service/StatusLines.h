// What the program without a window tells of its link: one line on standard error for each
// change of the main window's two status lines (their text or their tooltip), as a push leaves
// them.
#pragma once

#include "app/framework/Afx.h"
#include "app/platform/Clock.h"

#include <cstdio>
#include <string>

// One line: the local time, the side ("serial" or "network"), the status text and, when there is
// one, the reason (the tooltip, its lines joined with "; ").
std::string StatusLine(const SYSTEMTIME& st, const char* pszSide, const std::string& strText,
                       const std::string& strReason);

class CStatusLines {
public:
    explicit CStatusLines(std::FILE* out);
    // After a push of a dialog: prints a line for each status line that changed since the last.
    void Observe(const CDialog& dlg);

private:
    struct Side {
        int nID;
        const char* pszName;
        std::string strText;
        std::string strReason;
    };
    std::FILE* m_out;
    Side m_sides[2];
};
