// What the program without a window tells: a line on standard error when a side's status (the
// main window's two status lines, text and tooltip) says something new, as a push leaves them,
// and the program's own messages; in the journal's form when standard error goes there.
#pragma once

#include "app/framework/Afx.h"
#include "app/service/StatusText.h"

#include <cstdio>
#include <functional>
#include <string>

class CStatusLines {
public:
    // journal: lines with their priority and without a timestamp. onStatus hears the status
    // summary (StatusSummary) whenever a side's status text changed.
    CStatusLines(std::FILE* out, bool journal,
                 std::function<void(const std::string&)> onStatus = nullptr);
    // After a push of a dialog: prints a line for each side whose status text or reason changed
    // beyond its numbers since the last line.
    void Observe(const CDialog& dlg);
    // A message of the program itself: "varnel-headless: " and the text.
    void Say(Priority priority, const std::string& strText);
    // A side that closes from now on was asked to (a stop, a reload): news, not a warning.
    void SetClosingAsked(bool bAsked) { m_bClosingAsked = bAsked; }
    // Both status texts in one line: "serial: ...; network: ...".
    std::string StatusSummary() const;

private:
    struct Side {
        int nID;
        const char* pszName;
        std::string strText;
        std::string strGistText;
        std::string strGistReason;
    };
    void Put(Priority priority, const std::string& strBody);

    std::FILE* m_out;
    bool m_bJournal;
    bool m_bClosingAsked = false;
    std::function<void(const std::string&)> m_onStatus;
    Side m_sides[2];
};
