#include "serial/comm/Comm.h"
#include "serial/comm/EventListener.h"

#include "serial/comm/Faults.h"
#include "serial/comm/PortName.h"
#include "serial/comm/linux/Completion.h"
#include "serial/comm/linux/Port.h"
#include "serial/comm/linux/TtyDevice.h"

#include <atomic>
#include <mutex>
#include <new>
#include <unordered_map>

namespace comm {
namespace {

thread_local DWORD t_lastError = 0;
std::atomic<DeviceOpener> g_deviceOpener{nullptr};
std::atomic<FaultCheck> g_faultCheck{nullptr};

bool TakeFault(Call call, DWORD& error) {
    FaultCheck check = g_faultCheck.load(std::memory_order_acquire);
    return check != nullptr && check(call, error);
}

BOOL Fail(DWORD error) {
    t_lastError = error != 0 ? error : ERROR_GEN_FAILURE;
    return FALSE;
}

// Handles are numbers that are never reused, so a stale one cannot reach a newer object.
class HandleTable {
public:
    HANDLE Add(std::shared_ptr<Object> object) {
        std::lock_guard lock(mutex_);
        next_ += 4;
        objects_.emplace(next_, std::move(object));
        return reinterpret_cast<HANDLE>(next_);
    }
    template <class T> std::shared_ptr<T> Get(HANDLE handle) {
        std::lock_guard lock(mutex_);
        auto it = objects_.find(reinterpret_cast<std::uintptr_t>(handle));
        if (it == objects_.end())
            return nullptr;
        return std::dynamic_pointer_cast<T>(it->second);
    }
    std::shared_ptr<Object> Remove(HANDLE handle) {
        std::lock_guard lock(mutex_);
        auto it = objects_.find(reinterpret_cast<std::uintptr_t>(handle));
        if (it == objects_.end())
            return nullptr;
        std::shared_ptr<Object> object = std::move(it->second);
        objects_.erase(it);
        return object;
    }

private:
    std::mutex mutex_;
    std::unordered_map<std::uintptr_t, std::shared_ptr<Object>> objects_;
    std::uintptr_t next_ = 0x1000;
};

HandleTable& Handles() {
    static HandleTable* table = new HandleTable; // lives as long as any static object using it
    return *table;
}

BOOL Result(DWORD error) {
    return error == 0 ? TRUE : Fail(error);
}

#define COMM_FAULT(call)                                                                           \
    do {                                                                                           \
        DWORD injected_ = 0;                                                                       \
        if (TakeFault(Call::call, injected_))                                                      \
            return Fail(injected_);                                                                \
    } while (0)

#define COMM_PORT(handle)                                                                          \
    std::shared_ptr<Port> port = Handles().Get<Port>(handle);                                      \
    if (!port)                                                                                     \
    return Fail(ERROR_INVALID_HANDLE)

// The port behind a handle once the fault hook has let the call pass; null, with the last error
// set, when the call fails.
std::shared_ptr<Port> PortFor(Call call, HANDLE hFile) {
    DWORD injected = 0;
    if (TakeFault(call, injected)) {
        Fail(injected);
        return nullptr;
    }
    std::shared_ptr<Port> port = Handles().Get<Port>(hFile);
    if (!port)
        Fail(ERROR_INVALID_HANDLE);
    return port;
}

// The common body of the calls that hand one record of the caller's to the port: a null record
// is an invalid parameter.
template <class Record>
BOOL OnRecord(Call call, HANDLE hFile, Record* record, DWORD (Port::*method)(Record&)) {
    std::shared_ptr<Port> port = PortFor(call, hFile);
    if (!port)
        return FALSE;
    if (record == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    return Result(((*port).*method)(*record));
}

// The event of a record: none when hEvent is null; false when hEvent is not an event.
bool RecordEvent(const OVERLAPPED* ov, std::shared_ptr<Event>& event) {
    if (ov->hEvent == nullptr)
        return true;
    event = Handles().Get<Event>(ov->hEvent);
    return event != nullptr;
}

// Common tail of the three overlapped calls.
BOOL Started(DWORD result) {
    if (result == 0)
        return TRUE;
    return Fail(result);
}

// The common body of ReadFile and WriteFile.
template <class Buffer>
BOOL Transfer(Call call, HANDLE hFile, Buffer* buffer, DWORD bytes, DWORD* count, LPOVERLAPPED ov,
              DWORD (Port::*method)(Buffer*, DWORD, DWORD*, OVERLAPPED*, std::shared_ptr<Event>)) {
    if (count)
        *count = 0;
    std::shared_ptr<Port> port = PortFor(call, hFile);
    if (!port)
        return FALSE;
    std::shared_ptr<Event> event;
    if (ov == nullptr || (buffer == nullptr && bytes != 0))
        return Fail(ERROR_INVALID_PARAMETER);
    if (!RecordEvent(ov, event))
        return Fail(ERROR_INVALID_HANDLE);
    return Started(((*port).*method)(buffer, bytes, count, ov, std::move(event)));
}

} // namespace

void SetFaultCheck(FaultCheck check) {
    g_faultCheck.store(check, std::memory_order_release);
}

void SetDeviceOpener(DeviceOpener opener) {
    g_deviceOpener.store(opener, std::memory_order_release);
}

DWORD GetLastError() {
    return t_lastError;
}
void SetLastError(DWORD dwErrCode) {
    t_lastError = dwErrCode;
}

HANDLE CreateFileA(LPCSTR lpFileName, DWORD /*dwDesiredAccess*/, DWORD /*dwShareMode*/,
                   void* /*lpSecurityAttributes*/, DWORD dwCreationDisposition,
                   DWORD /*dwFlagsAndAttributes*/, HANDLE /*hTemplateFile*/) {
    DWORD error = 0;
    if (TakeFault(Call::CreateFileA, error)) {
        Fail(error);
        return INVALID_HANDLE_VALUE;
    }
    if (lpFileName == nullptr || dwCreationDisposition != OPEN_EXISTING) {
        Fail(lpFileName == nullptr ? ERROR_FILE_NOT_FOUND : ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::unique_ptr<Device> device;
    std::string path;
    DeviceOpener opener = g_deviceOpener.load(std::memory_order_acquire);
    if (opener == nullptr || !opener(lpFileName, device, error)) {
        error = ResolvePortName(lpFileName, path);
        if (error == 0)
            device = OpenTtyDevice(path.c_str(), error);
    }
    if (!device) {
        Fail(error);
        return INVALID_HANDLE_VALUE;
    }
    std::shared_ptr<Port> port;
    try {
        port = std::make_shared<Port>(std::move(device));
    } catch (const std::bad_alloc&) {
        Fail(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    if (DWORD err = port->Start()) {
        Fail(err);
        return INVALID_HANDLE_VALUE;
    }
    return Handles().Add(std::move(port));
}

BOOL CloseHandle(HANDLE hObject) {
    std::shared_ptr<Object> object = Handles().Remove(hObject);
    if (!object)
        return Fail(ERROR_INVALID_HANDLE);
    if (auto port = std::dynamic_pointer_cast<Port>(object))
        port->Close();
    return TRUE;
}

HANDLE CreateEventA(void* /*lpEventAttributes*/, BOOL bManualReset, BOOL bInitialState,
                    LPCSTR lpName) {
    DWORD error = 0;
    if (TakeFault(Call::CreateEventA, error)) {
        Fail(error);
        return nullptr;
    }
    if (lpName != nullptr) { // named events are not offered
        Fail(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    return Handles().Add(std::make_shared<Event>(bManualReset != FALSE, bInitialState != FALSE));
}

BOOL SetEvent(HANDLE hEvent) {
    COMM_FAULT(SetEvent);
    auto event = Handles().Get<Event>(hEvent);
    if (!event)
        return Fail(ERROR_INVALID_HANDLE);
    event->Set();
    return TRUE;
}

BOOL SetEventListener(HANDLE hEvent, std::function<void()> notify) {
    auto event = Handles().Get<Event>(hEvent);
    if (!event)
        return Fail(ERROR_INVALID_HANDLE);
    event->SetListener(std::move(notify));
    return TRUE;
}

BOOL ResetEvent(HANDLE hEvent) {
    auto event = Handles().Get<Event>(hEvent);
    if (!event)
        return Fail(ERROR_INVALID_HANDLE);
    event->Reset();
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    DWORD error = 0;
    if (TakeFault(Call::WaitForSingleObject, error)) {
        Fail(error);
        return WAIT_FAILED;
    }
    auto event = Handles().Get<Event>(hHandle);
    if (!event) {
        Fail(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    return event->Wait(dwMilliseconds) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

BOOL SetupComm(HANDLE hFile, DWORD dwInQueue, DWORD dwOutQueue) {
    COMM_FAULT(SetupComm);
    COMM_PORT(hFile);
    return Result(port->SetupQueues(dwInQueue, dwOutQueue));
}

BOOL GetCommState(HANDLE hFile, DCB* lpDCB) {
    return OnRecord(Call::GetCommState, hFile, lpDCB, &Port::GetState);
}

BOOL SetCommState(HANDLE hFile, const DCB* lpDCB) {
    return OnRecord(Call::SetCommState, hFile, lpDCB, &Port::SetState);
}

BOOL GetCommTimeouts(HANDLE hFile, COMMTIMEOUTS* lpCommTimeouts) {
    return OnRecord(Call::GetCommTimeouts, hFile, lpCommTimeouts, &Port::GetTimeouts);
}

BOOL SetCommTimeouts(HANDLE hFile, const COMMTIMEOUTS* lpCommTimeouts) {
    return OnRecord(Call::SetCommTimeouts, hFile, lpCommTimeouts, &Port::SetTimeouts);
}

BOOL SetCommMask(HANDLE hFile, DWORD dwEvtMask) {
    COMM_FAULT(SetCommMask);
    COMM_PORT(hFile);
    return Result(port->SetMask(dwEvtMask));
}

BOOL GetCommMask(HANDLE hFile, DWORD* lpEvtMask) {
    return OnRecord(Call::GetCommMask, hFile, lpEvtMask, &Port::GetMask);
}

BOOL WaitCommEvent(HANDLE hFile, DWORD* lpEvtMask, LPOVERLAPPED lpOverlapped) {
    COMM_FAULT(WaitCommEvent);
    COMM_PORT(hFile);
    std::shared_ptr<Event> event;
    if (lpEvtMask == nullptr || lpOverlapped == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    if (!RecordEvent(lpOverlapped, event))
        return Fail(ERROR_INVALID_HANDLE);
    return Started(port->WaitEvent(lpEvtMask, lpOverlapped, std::move(event)));
}

BOOL ReadFile(HANDLE hFile, void* lpBuffer, DWORD nNumberOfBytesToRead, DWORD* lpNumberOfBytesRead,
              LPOVERLAPPED lpOverlapped) {
    return Transfer(Call::ReadFile, hFile, lpBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead,
                    lpOverlapped, &Port::Read);
}

BOOL WriteFile(HANDLE hFile, const void* lpBuffer, DWORD nNumberOfBytesToWrite,
               DWORD* lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
    return Transfer(Call::WriteFile, hFile, lpBuffer, nNumberOfBytesToWrite, lpNumberOfBytesWritten,
                    lpOverlapped, &Port::Write);
}

BOOL GetOverlappedResult(HANDLE /*hFile*/, LPOVERLAPPED lpOverlapped,
                         DWORD* lpNumberOfBytesTransferred, BOOL bWait) {
    COMM_FAULT(GetOverlappedResult);
    if (lpOverlapped == nullptr || lpNumberOfBytesTransferred == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    // Every pending record completes (at the latest when its port closes), so a wait ends.
    if (!HasOverlappedIoCompleted(lpOverlapped)) {
        if (!bWait)
            return Fail(ERROR_IO_INCOMPLETE);
        WaitForCompletion(lpOverlapped);
    }
    *lpNumberOfBytesTransferred = static_cast<DWORD>(lpOverlapped->InternalHigh);
    DWORD status = static_cast<DWORD>(
        std::atomic_ref<ULONG_PTR>(lpOverlapped->Internal).load(std::memory_order_acquire));
    return status == 0 ? TRUE : Fail(status);
}

BOOL CancelIo(HANDLE hFile) {
    COMM_FAULT(CancelIo);
    COMM_PORT(hFile);
    return Result(port->Cancel(std::this_thread::get_id()));
}

BOOL ClearCommError(HANDLE hFile, DWORD* lpErrors, COMSTAT* lpStat) {
    COMM_FAULT(ClearCommError);
    COMM_PORT(hFile);
    return Result(port->ClearError(lpErrors, lpStat));
}

BOOL PurgeComm(HANDLE hFile, DWORD dwFlags) {
    COMM_FAULT(PurgeComm);
    COMM_PORT(hFile);
    return Result(port->Purge(dwFlags));
}

BOOL FlushFileBuffers(HANDLE hFile) {
    COMM_FAULT(FlushFileBuffers);
    COMM_PORT(hFile);
    return Result(port->Flush());
}

BOOL GetCommModemStatus(HANDLE hFile, DWORD* lpModemStat) {
    return OnRecord(Call::GetCommModemStatus, hFile, lpModemStat, &Port::ModemStatus);
}

// An escape function of the port, under the fault hook of the call that asked for it.
static BOOL Escape(Call call, HANDLE hFile, DWORD dwFunc) {
    DWORD injected = 0;
    if (TakeFault(call, injected))
        return Fail(injected);
    COMM_PORT(hFile);
    return Result(port->Escape(dwFunc));
}

BOOL EscapeCommFunction(HANDLE hFile, DWORD dwFunc) {
    return Escape(Call::EscapeCommFunction, hFile, dwFunc);
}

BOOL SetCommBreak(HANDLE hFile) {
    return Escape(Call::SetCommBreak, hFile, SETBREAK);
}

BOOL ClearCommBreak(HANDLE hFile) {
    return Escape(Call::ClearCommBreak, hFile, CLRBREAK);
}

} // namespace comm
