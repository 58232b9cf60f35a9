// CVarnelDlg: what the window shows of each block and what the log keeps of it.
#include "app/VarnelDlg.h"
#include "app/bridge/TrafficText.h"
#include "app/platform/Clock.h"
#include "app/platform/File.h"

#include <cstdio>

void CVarnelDlg::ShowTrafficBlock(bool bFromNetwork, const char* pBuffer, int nLength) {
    SYSTEMTIME st;
    GetLocalTime(&st);
    const std::size_t nSize = static_cast<std::size_t>(nLength);
    std::string strBody = m_chkHex.GetCheck() == BST_CHECKED
                              ? HexBody(pBuffer, nSize, m_chk0x.GetCheck() == BST_CHECKED)
                              : TextBody(pBuffer, nSize);
    const std::string& strFrom = bFromNetwork ? m_strBlockFrom : std::string();
    std::string strEntry = PaneHeader(bFromNetwork ? "TCP" : "COM", nLength, st, strFrom);
    strEntry += strBody;
    strEntry += "\r\n";
    CString& strPane = bFromNetwork ? m_strTcpData : m_strComData;
    CPaneEntries& entries = bFromNetwork ? m_tcpEntries : m_comEntries;
    // The line break that completes the entry comes after it (CompleteTrafficEntry).
    const std::size_t nCut = entries.Add(strPane.size(), strEntry);
    strPane += strEntry;
    strPane.Delete(0, nCut);
    WriteTrafficLog(strBody.c_str(), nLength, bFromNetwork);
}

void CVarnelDlg::WriteTrafficLog(const char* pszText, int nByteCount, bool bFromNetwork) {
    SYSTEMTIME st;
    GetLocalTime(&st);
    KeepLogDays();
    m_log.Write(LogFileName(st), LogEntry(pszText, nByteCount, bFromNetwork, st,
                                          bFromNetwork ? m_strBlockFrom : std::string()));
    TellLogFailure();
}

void CVarnelDlg::KeepLogDays() {
    SYSTEMTIME st;
    GetLocalTime(&st);
    std::string strDay = LogFileName(st);
    if (m_nLogDays <= 0 || strDay == m_strLogDay)
        return;
    m_strLogDay = std::move(strDay);
    for (const std::string& strName : FilesInCurrentFolder())
        if (IsExpiredLog(strName, st, m_nLogDays))
            RemoveFile(strName.c_str());
}

void CVarnelDlg::TellLogFailure() {
    const std::string strFile = m_log.TakeFailure();
    if (strFile.empty())
        return;
    TellFileFailure("the traffic log " + strFile);
}

// Each line of the events file is one append; one that fails is said once, until a line goes in.
void CVarnelDlg::AppendEvent(const std::string& strFile, const std::string& strLine) {
    const bool bWritten = AppendToFile(strFile.c_str(), strLine.data(), strLine.size());
    if (bWritten || m_bEventsFailureTold) {
        m_bEventsFailureTold = !bWritten;
        return;
    }
    m_bEventsFailureTold = true;
    TellFileFailure("the events file " + strFile);
}

void CVarnelDlg::TellFileFailure(const std::string& strWhich) {
    const std::string strText = strWhich +
                                " cannot be written beside the settings file; its entries are lost "
                                "until it can, and each one tries again";
    if (m_tellLogFailure) {
        m_tellLogFailure(strText);
        return;
    }
    const CWnd* pStatus = GetDlgItem(IDC_STATIC_COMSTATUS);
    const std::string strTip = pStatus != nullptr ? pStatus->GetToolTipText() : "";
    SetStatusTip(*this, IDC_STATIC_COMSTATUS, strTip.empty() ? strText : strTip + "\n" + strText);
}

// The end of a block's entry: the counter label from the running total, the closing line break,
// and the push now or at the end of the running period.
void CVarnelDlg::CompleteTrafficEntry(CString& strCount, const char* pszFormat, std::int64_t nTotal,
                                      CString& strPane) {
    char szCount[32];
    std::snprintf(szCount, sizeof(szCount), pszFormat, static_cast<long long>(nTotal));
    strCount = szCount;
    strPane += "\r\n";
    const CPushPacer::Step step = m_pacer.News();
    if (step == CPushPacer::Step::Wait)
        return;
    PushTraffic();
    if (step == CPushPacer::Step::PushAndRun)
        SetTimer(TIMER_PUSH, PUSH_PERIOD_MS);
}

void CVarnelDlg::OnPushPeriod() {
    if (m_pacer.PeriodEnd() == CPushPacer::Step::Push)
        PushTraffic();
    else
        KillTimer(TIMER_PUSH);
}

// The push of the texts with the log entries that wait, and both panes scrolled to their last
// line (also the one that did not change).
void CVarnelDlg::PushTraffic() {
    m_log.Flush();
    TellLogFailure();
    UpdateData(false);
    m_editComData.LineScroll(m_editComData.GetLineCount());
    m_editTcpData.LineScroll(m_editTcpData.GetLineCount());
}

void CVarnelDlg::OnButtonClear() {
    if (MessageBox("        清空数据显示内容？ ", nullptr, MB_YESNOCANCEL) != IDYES)
        return;
    m_strComData.Empty();
    m_strTcpData.Empty();
    m_comEntries = {};
    m_tcpEntries = {};
    m_strComCount = "0";
    m_strTcpCount = "0";
    UpdateData(false);
}

void CVarnelDlg::TellLogFailures(std::function<void(const std::string&)> tell) {
    m_tellLogFailure = std::move(tell);
}
