// The daily traffic log's writer. Each entry goes to the file of its own day. At once, every
// entry is one append of its own; batched (the fast mode), entries gather and are written with
// the next Flush in one append per file, since one open and write per block would cost more than
// the block itself. A failed write loses its entries silently and never stops the bridge.
#pragma once

#include <string>

class CTrafficLog {
public:
    CTrafficLog() = default;
    ~CTrafficLog() { Flush(); }
    CTrafficLog(const CTrafficLog&) = delete;
    CTrafficLog& operator=(const CTrafficLog&) = delete;

    void SetBatched(bool bBatched);
    // Adds an entry to the file strFile.
    void Write(std::string strFile, const std::string& strEntry);
    // Writes the entries that wait.
    void Flush();

private:
    bool m_bBatched = false;
    std::string m_strFile;    // the file of the entries that wait
    std::string m_strPending; // entries for the next Flush
};
