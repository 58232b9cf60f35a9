#include "app/service/StatusText.h"

#include <cstdio>

std::string Gist(const std::string& strText) {
    std::string strGist;
    for (std::size_t i = 0; i < strText.size(); ++i) {
        const bool bDigit = strText[i] >= '0' && strText[i] <= '9';
        if (!bDigit)
            strGist += strText[i];
        else if (i == 0 || strText[i - 1] < '0' || strText[i - 1] > '9')
            strGist += '#';
    }
    return strGist;
}

Priority PriorityOf(const std::string& strStatus, bool bClosingAsked) {
    for (const char* pszFailed : {"失败", "错误", "无效", "不存在", "无法"})
        if (strStatus.find(pszFailed) != std::string::npos)
            return Priority::err;
    if (strStatus.rfind("重连", 0) == 0)
        return Priority::warning;
    for (const char* pszClosed : {"已关闭", "已断开", "已停止"})
        if (strStatus.find(pszClosed) != std::string::npos)
            return bClosingAsked ? Priority::notice : Priority::warning;
    return Priority::notice;
}

std::string FormatLine(bool journal, Priority priority, const SYSTEMTIME& st,
                       const std::string& strBody) {
    char szHead[48];
    if (journal)
        std::snprintf(szHead, sizeof(szHead), "<%d>", static_cast<int>(priority));
    else
        std::snprintf(szHead, sizeof(szHead), "%04d-%02d-%02d %02d:%02d:%02d ", st.wYear, st.wMonth,
                      st.wDay, st.wHour, st.wMinute, st.wSecond);
    return szHead + strBody + "\n";
}

std::string StatusBody(const char* pszSide, const std::string& strText,
                       const std::string& strReason) {
    std::string strLine = std::string(pszSide) + " " + strText;
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
    return strLine;
}
