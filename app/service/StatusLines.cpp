#include "app/service/StatusLines.h"

#include "res/resource.h"

#include <utility>

CStatusLines::CStatusLines(std::FILE* out, bool journal,
                           std::function<void(const std::string&)> onStatus)
    : m_out(out), m_bJournal(journal),
      m_onStatus(std::move(onStatus)), m_sides{{IDC_STATIC_COMSTATUS, "serial", {}, {}, {}},
                                               {IDC_STATIC_NETSTATUS, "network", {}, {}, {}}} {}

void CStatusLines::Observe(const CDialog& dlg) {
    bool bNewText = false;
    for (Side& side : m_sides) {
        const CWnd* pStatus = dlg.GetDlgItem(side.nID);
        if (!pStatus)
            continue;
        const std::string strText = pStatus->GetWindowText();
        const std::string strReason = pStatus->GetToolTipText();
        if (strText != side.strText) {
            side.strText = strText;
            bNewText = true;
        }
        std::string strGistText = Gist(strText);
        std::string strGistReason = Gist(strReason);
        if (strGistText == side.strGistText && strGistReason == side.strGistReason)
            continue;
        Priority priority = PriorityOf(strText, m_bClosingAsked);
        // The same status with a new reason is news only, unless the status is a fault.
        if (strGistText == side.strGistText && priority > Priority::warning)
            priority = Priority::info;
        side.strGistText = std::move(strGistText);
        side.strGistReason = std::move(strGistReason);
        Put(priority, StatusBody(side.pszName, strText, strReason));
    }
    if (bNewText && m_onStatus)
        m_onStatus(StatusSummary());
}

void CStatusLines::Say(Priority priority, const std::string& strText) {
    Put(priority, "varnel-headless: " + strText);
}

std::string CStatusLines::StatusSummary() const {
    return std::string("serial: ") + m_sides[0].strText + "; network: " + m_sides[1].strText;
}

void CStatusLines::Put(Priority priority, const std::string& strBody) {
    SYSTEMTIME st{};
    GetLocalTime(&st);
    std::fputs(FormatLine(m_bJournal, priority, st, strBody).c_str(), m_out);
    std::fflush(m_out);
}
