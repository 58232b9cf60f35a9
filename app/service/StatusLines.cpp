#include "app/service/StatusLines.h"

#include "res/resource.h"

#include <cstdio>

std::string StatusLine(const SYSTEMTIME& st, const char* pszSide, const std::string& strText,
                       const std::string& strReason) {
    char szTime[48];
    std::snprintf(szTime, sizeof(szTime), "%04d-%02d-%02d %02d:%02d:%02d", st.wYear, st.wMonth,
                  st.wDay, st.wHour, st.wMinute, st.wSecond);
    std::string strLine = std::string(szTime) + " " + pszSide + " " + strText;
    if (!strReason.empty()) {
        strLine += " (";
        for (char c : strReason) {
            if (c == '\n')
                strLine += "; ";
            else if (c != '\r')
                strLine += c;
        }
        strLine += ")";
    }
    return strLine + "\n";
}

CStatusLines::CStatusLines(std::FILE* out)
    : m_out(out), m_sides{{IDC_STATIC_COMSTATUS, "serial", {}, {}},
                          {IDC_STATIC_NETSTATUS, "network", {}, {}}} {}

void CStatusLines::Observe(const CDialog& dlg) {
    for (Side& side : m_sides) {
        const CWnd* pStatus = dlg.GetDlgItem(side.nID);
        if (!pStatus)
            continue;
        std::string strText = pStatus->GetWindowText();
        std::string strReason = pStatus->GetToolTipText();
        if (strText == side.strText && strReason == side.strReason)
            continue;
        side.strText = std::move(strText);
        side.strReason = std::move(strReason);
        SYSTEMTIME st{};
        GetLocalTime(&st);
        std::fputs(StatusLine(st, side.pszName, side.strText, side.strReason).c_str(), m_out);
        std::fflush(m_out);
    }
}
