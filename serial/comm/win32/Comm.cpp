// The communications API on Windows: every call goes to the system's own (kernel32), whose names,
// records and error codes Comm.h repeats. The records are checked against the system's here, so
// a pointer to ours can be handed on as it is. Calls that the fault hook names (Faults.h) ask it
// first, as on Linux, so that tests can make them fail.
#include "serial/comm/Comm.h"
#include "serial/comm/EventListener.h"

#include "serial/comm/Faults.h"
#include "serial/comm/PortName.h"

#include <atomic>
#include <cstddef>
#include <string>

namespace {

// The system's headers define most of Comm.h's names as macros (ERROR_*, EV_*, TRUE ...), so
// `comm::ERROR_IO_PENDING` cannot be written below them: take our values first.
struct Ours {
    static constexpr comm::DWORD ioPending = comm::ERROR_IO_PENDING;
    static constexpr comm::DWORD ioIncomplete = comm::ERROR_IO_INCOMPLETE;
    static constexpr comm::DWORD aborted = comm::ERROR_OPERATION_ABORTED;
    static constexpr comm::DWORD removed = comm::ERROR_DEVICE_REMOVED;
    static constexpr comm::ULONG_PTR pending = comm::STATUS_PENDING;
    static constexpr comm::DWORD overlapped = comm::FILE_FLAG_OVERLAPPED;
    static constexpr comm::DWORD allEvents = comm::EV_ALL;
    static constexpr comm::DWORD purgeFlags[4] = {comm::PURGE_TXABORT, comm::PURGE_RXABORT,
                                                  comm::PURGE_TXCLEAR, comm::PURGE_RXCLEAR};
    static constexpr comm::DWORD modemBits[4] = {comm::MS_CTS_ON, comm::MS_DSR_ON, comm::MS_RING_ON,
                                                 comm::MS_RLSD_ON};
    static constexpr comm::DWORD escapes[6] = {comm::SETRTS, comm::CLRRTS,   comm::SETDTR,
                                               comm::CLRDTR, comm::SETBREAK, comm::CLRBREAK};
    static constexpr comm::BOOL no = comm::FALSE;
    static constexpr comm::BOOL yes = comm::TRUE;
};

} // namespace

#include <windows.h>

namespace {

// Our records and the system's: same size, same place for every field that is no bit-field. The
// bit-fields are declared in the same order on the same 32-bit word.
#define COMM_SAME_PLACE(record, field)                                                             \
    static_assert(offsetof(comm::record, field) == offsetof(::record, field))

static_assert(sizeof(comm::DCB) == sizeof(::DCB));
COMM_SAME_PLACE(DCB, DCBlength);
COMM_SAME_PLACE(DCB, BaudRate);
COMM_SAME_PLACE(DCB, wReserved);
COMM_SAME_PLACE(DCB, XonLim);
COMM_SAME_PLACE(DCB, XoffLim);
COMM_SAME_PLACE(DCB, ByteSize);
COMM_SAME_PLACE(DCB, Parity);
COMM_SAME_PLACE(DCB, StopBits);
COMM_SAME_PLACE(DCB, XonChar);
COMM_SAME_PLACE(DCB, XoffChar);
COMM_SAME_PLACE(DCB, ErrorChar);
COMM_SAME_PLACE(DCB, EofChar);
COMM_SAME_PLACE(DCB, EvtChar);
COMM_SAME_PLACE(DCB, wReserved1);

static_assert(sizeof(comm::COMMTIMEOUTS) == sizeof(::COMMTIMEOUTS));
COMM_SAME_PLACE(COMMTIMEOUTS, ReadIntervalTimeout);
COMM_SAME_PLACE(COMMTIMEOUTS, ReadTotalTimeoutMultiplier);
COMM_SAME_PLACE(COMMTIMEOUTS, ReadTotalTimeoutConstant);
COMM_SAME_PLACE(COMMTIMEOUTS, WriteTotalTimeoutMultiplier);
COMM_SAME_PLACE(COMMTIMEOUTS, WriteTotalTimeoutConstant);

static_assert(sizeof(comm::COMSTAT) == sizeof(::COMSTAT));
COMM_SAME_PLACE(COMSTAT, cbInQue);
COMM_SAME_PLACE(COMSTAT, cbOutQue);

static_assert(sizeof(comm::OVERLAPPED) == sizeof(::OVERLAPPED));
COMM_SAME_PLACE(OVERLAPPED, Internal);
COMM_SAME_PLACE(OVERLAPPED, InternalHigh);
COMM_SAME_PLACE(OVERLAPPED, Offset);
COMM_SAME_PLACE(OVERLAPPED, OffsetHigh);
COMM_SAME_PLACE(OVERLAPPED, hEvent);
#undef COMM_SAME_PLACE

// Our DWORD is a 32-bit integer, the system's an unsigned long of the same size.
static_assert(sizeof(comm::DWORD) == sizeof(::DWORD));
static_assert(sizeof(comm::HANDLE) == sizeof(::HANDLE));

// Codes and flags that CSerial hands on unchanged.
static_assert(Ours::ioPending == ERROR_IO_PENDING);
static_assert(Ours::ioIncomplete == ERROR_IO_INCOMPLETE);
static_assert(Ours::aborted == ERROR_OPERATION_ABORTED);
static_assert(Ours::removed == ERROR_DEVICE_REMOVED);
static_assert(Ours::pending == STATUS_PENDING);
static_assert(Ours::overlapped == FILE_FLAG_OVERLAPPED);
static_assert(Ours::allEvents ==
              (EV_RXCHAR | EV_RXFLAG | EV_TXEMPTY | EV_CTS | EV_DSR | EV_RLSD | EV_BREAK | EV_ERR |
               EV_RING | EV_PERR | EV_RX80FULL | EV_EVENT1 | EV_EVENT2));
static_assert(Ours::purgeFlags[0] == PURGE_TXABORT && Ours::purgeFlags[1] == PURGE_RXABORT &&
              Ours::purgeFlags[2] == PURGE_TXCLEAR && Ours::purgeFlags[3] == PURGE_RXCLEAR);
static_assert(Ours::modemBits[0] == MS_CTS_ON && Ours::modemBits[1] == MS_DSR_ON &&
              Ours::modemBits[2] == MS_RING_ON && Ours::modemBits[3] == MS_RLSD_ON);
static_assert(Ours::escapes[0] == SETRTS && Ours::escapes[1] == CLRRTS &&
              Ours::escapes[2] == SETDTR && Ours::escapes[3] == CLRDTR &&
              Ours::escapes[4] == SETBREAK && Ours::escapes[5] == CLRBREAK);
static_assert(Ours::no == FALSE && Ours::yes == TRUE);

std::atomic<comm::FaultCheck> g_faultCheck{nullptr};

bool TakeFault(comm::Call call, comm::DWORD& error) {
    comm::FaultCheck check = g_faultCheck.load(std::memory_order_acquire);
    return check != nullptr && check(call, error);
}

comm::BOOL Fail(comm::DWORD error) {
    ::SetLastError(error != 0 ? error : ERROR_GEN_FAILURE);
    return Ours::no;
}

comm::BOOL Pass(BOOL result) {
    return result ? Ours::yes : Ours::no;
}

::DWORD* Native(comm::DWORD* p) {
    return reinterpret_cast<::DWORD*>(p);
}
::LPOVERLAPPED Native(comm::LPOVERLAPPED p) {
    return reinterpret_cast<::LPOVERLAPPED>(p);
}

#define COMM_FAULT(call)                                                                           \
    do {                                                                                           \
        comm::DWORD injected_ = 0;                                                                 \
        if (TakeFault(comm::Call::call, injected_))                                                \
            return Fail(injected_);                                                                \
    } while (0)

} // namespace

namespace comm {

void SetFaultCheck(FaultCheck check) {
    g_faultCheck.store(check, std::memory_order_release);
}

DWORD GetLastError() {
    return ::GetLastError();
}
void SetLastError(DWORD dwErrCode) {
    ::SetLastError(dwErrCode);
}

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   void* lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
    DWORD error = 0;
    if (TakeFault(Call::CreateFileA, error)) {
        Fail(error);
        return INVALID_HANDLE_VALUE;
    }
    std::string path;
    if (DWORD resolved = ResolvePortName(lpFileName, path)) {
        Fail(resolved);
        return INVALID_HANDLE_VALUE;
    }
    return ::CreateFileA(path.c_str(), dwDesiredAccess, dwShareMode,
                         static_cast<LPSECURITY_ATTRIBUTES>(lpSecurityAttributes),
                         dwCreationDisposition, dwFlagsAndAttributes, hTemplateFile);
}

BOOL CloseHandle(HANDLE hObject) {
    return Pass(::CloseHandle(hObject));
}

HANDLE CreateEventA(void* lpEventAttributes, BOOL bManualReset, BOOL bInitialState, LPCSTR lpName) {
    DWORD error = 0;
    if (TakeFault(Call::CreateEventA, error)) {
        Fail(error);
        return nullptr;
    }
    return ::CreateEventA(static_cast<LPSECURITY_ATTRIBUTES>(lpEventAttributes), bManualReset,
                          bInitialState, lpName);
}

BOOL SetEvent(HANDLE hEvent) {
    COMM_FAULT(SetEvent);
    return Pass(::SetEvent(hEvent));
}

BOOL SetEventListener(HANDLE, std::function<void()>) {
    ::SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}

BOOL ResetEvent(HANDLE hEvent) {
    return Pass(::ResetEvent(hEvent));
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    DWORD error = 0;
    if (TakeFault(Call::WaitForSingleObject, error)) {
        Fail(error);
        return WAIT_FAILED;
    }
    return ::WaitForSingleObject(hHandle, dwMilliseconds);
}

BOOL SetupComm(HANDLE hFile, DWORD dwInQueue, DWORD dwOutQueue) {
    COMM_FAULT(SetupComm);
    return Pass(::SetupComm(hFile, dwInQueue, dwOutQueue));
}

BOOL GetCommState(HANDLE hFile, DCB* lpDCB) {
    COMM_FAULT(GetCommState);
    return Pass(::GetCommState(hFile, reinterpret_cast<::DCB*>(lpDCB)));
}

BOOL SetCommState(HANDLE hFile, const DCB* lpDCB) {
    COMM_FAULT(SetCommState);
    // The system's declaration takes a non-const record, which it only reads.
    return Pass(::SetCommState(hFile, reinterpret_cast<::DCB*>(const_cast<DCB*>(lpDCB))));
}

BOOL GetCommTimeouts(HANDLE hFile, COMMTIMEOUTS* lpCommTimeouts) {
    COMM_FAULT(GetCommTimeouts);
    return Pass(::GetCommTimeouts(hFile, reinterpret_cast<::COMMTIMEOUTS*>(lpCommTimeouts)));
}

BOOL SetCommTimeouts(HANDLE hFile, const COMMTIMEOUTS* lpCommTimeouts) {
    COMM_FAULT(SetCommTimeouts);
    // The driver times a read's interval with the system clock, which ticks every 15.6 ms unless
    // asked for more: a gap of a few milliseconds would end bursts up to a tick late. Once a port
    // asks for such a gap, the clock ticks every millisecond for the rest of the process.
    static std::atomic<bool> s_fineClock{false};
    if (lpCommTimeouts && lpCommTimeouts->ReadIntervalTimeout != 0 &&
        lpCommTimeouts->ReadIntervalTimeout < 16 && !s_fineClock.exchange(true))
        ::timeBeginPeriod(1);
    return Pass(::SetCommTimeouts(
        hFile, reinterpret_cast<::COMMTIMEOUTS*>(const_cast<COMMTIMEOUTS*>(lpCommTimeouts))));
}

BOOL SetCommMask(HANDLE hFile, DWORD dwEvtMask) {
    COMM_FAULT(SetCommMask);
    return Pass(::SetCommMask(hFile, dwEvtMask));
}

BOOL GetCommMask(HANDLE hFile, DWORD* lpEvtMask) {
    COMM_FAULT(GetCommMask);
    return Pass(::GetCommMask(hFile, Native(lpEvtMask)));
}

BOOL WaitCommEvent(HANDLE hFile, DWORD* lpEvtMask, LPOVERLAPPED lpOverlapped) {
    COMM_FAULT(WaitCommEvent);
    return Pass(::WaitCommEvent(hFile, Native(lpEvtMask), Native(lpOverlapped)));
}

BOOL ReadFile(HANDLE hFile, void* lpBuffer, DWORD nNumberOfBytesToRead, DWORD* lpNumberOfBytesRead,
              LPOVERLAPPED lpOverlapped) {
    if (lpNumberOfBytesRead)
        *lpNumberOfBytesRead = 0;
    COMM_FAULT(ReadFile);
    return Pass(::ReadFile(hFile, lpBuffer, nNumberOfBytesToRead, Native(lpNumberOfBytesRead),
                           Native(lpOverlapped)));
}

BOOL WriteFile(HANDLE hFile, const void* lpBuffer, DWORD nNumberOfBytesToWrite,
               DWORD* lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
    if (lpNumberOfBytesWritten)
        *lpNumberOfBytesWritten = 0;
    COMM_FAULT(WriteFile);
    return Pass(::WriteFile(hFile, lpBuffer, nNumberOfBytesToWrite, Native(lpNumberOfBytesWritten),
                            Native(lpOverlapped)));
}

BOOL GetOverlappedResult(HANDLE hFile, LPOVERLAPPED lpOverlapped, DWORD* lpNumberOfBytesTransferred,
                         BOOL bWait) {
    COMM_FAULT(GetOverlappedResult);
    return Pass(::GetOverlappedResult(hFile, Native(lpOverlapped),
                                      Native(lpNumberOfBytesTransferred), bWait));
}

BOOL CancelIo(HANDLE hFile) {
    COMM_FAULT(CancelIo);
    return Pass(::CancelIo(hFile));
}

BOOL ClearCommError(HANDLE hFile, DWORD* lpErrors, COMSTAT* lpStat) {
    COMM_FAULT(ClearCommError);
    return Pass(::ClearCommError(hFile, Native(lpErrors), reinterpret_cast<::COMSTAT*>(lpStat)));
}

BOOL PurgeComm(HANDLE hFile, DWORD dwFlags) {
    COMM_FAULT(PurgeComm);
    return Pass(::PurgeComm(hFile, dwFlags));
}

BOOL FlushFileBuffers(HANDLE hFile) {
    COMM_FAULT(FlushFileBuffers);
    return Pass(::FlushFileBuffers(hFile));
}

BOOL GetCommModemStatus(HANDLE hFile, DWORD* lpModemStat) {
    COMM_FAULT(GetCommModemStatus);
    return Pass(::GetCommModemStatus(hFile, Native(lpModemStat)));
}

// An escape function of the system, under the fault hook of the call that asked for it (a break
// set or cleared is the same function as SetCommBreak and ClearCommBreak).
static BOOL Escape(comm::Call call, HANDLE hFile, DWORD dwFunc) {
    comm::DWORD injected = 0;
    if (TakeFault(call, injected))
        return Fail(injected);
    return Pass(::EscapeCommFunction(hFile, dwFunc));
}

BOOL EscapeCommFunction(HANDLE hFile, DWORD dwFunc) {
    return Escape(comm::Call::EscapeCommFunction, hFile, dwFunc);
}

BOOL SetCommBreak(HANDLE hFile) {
    return Escape(comm::Call::SetCommBreak, hFile, SETBREAK);
}

BOOL ClearCommBreak(HANDLE hFile) {
    return Escape(comm::Call::ClearCommBreak, hFile, CLRBREAK);
}

} // namespace comm
