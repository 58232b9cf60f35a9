#include "app/service/StatusText.h"

#include <cstdio>

std::string Gist(const std::string& strText) {
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    const auto joins = [](char c) { return c == '.' || c == ':'; };
    std::string strGist;
    for (std::size_t i = 0; i < strText.size();) {
        if (!digit(strText[i])) {
            strGist += strText[i++];
            continue;
        }
        std::size_t nEnd = i;
        while (nEnd < strText.size() && digit(strText[nEnd]))
            ++nEnd;
        // A number joined to another by '.' or ':' is part of an address or a time: it stays.
        const bool bPart =
            (i > 0 && joins(strText[i - 1])) || (nEnd < strText.size() && joins(strText[nEnd]));
        strGist += bPart ? strText.substr(i, nEnd - i) : "#";
        i = nEnd;
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
