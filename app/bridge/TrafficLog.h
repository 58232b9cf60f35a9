// The daily traffic log's writer. Each entry goes to the file of its own day. At once, every
// entry is one append of its own; batched (the fast mode), entries gather and are written with
// the next Flush in one append per file, since one open and write per block would cost more than
// the block itself. A failed write loses its entries and never stops the bridge; the next entry
// tries again, and the failure is told once until a write succeeds again. With LOG=0 nothing is
// written.
#pragma once

#include "app/platform/Clock.h"

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
    // Off: entries are dropped, nothing is written (LOG=0).
    void SetEnabled(bool bEnabled);
    // The file that could not be written since the last call, once for each run of failures;
    // empty when there is no new failure.
    std::string TakeFailure();

private:
    void Append(const std::string& strFile, const std::string& strData);

    bool m_bBatched = false;
    bool m_bEnabled = true;
    bool m_bFailing = false;  // the last write failed
    std::string m_strFailure; // a failure not yet taken
    std::string m_strFile;    // the file of the entries that wait
    std::string m_strPending; // entries for the next Flush
};

// Whether a file of the current folder is a daily traffic log or events file ("2026-12-08.log",
// "2026-12-08.events.log") of a day more than nDays before today (LOGDAYS).
bool IsExpiredLog(const std::string& strName, const SYSTEMTIME& today, int nDays);
