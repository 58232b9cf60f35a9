// CSerial: opening and closing, the line settings, read time-outs, event waits and transfers (its
// queues and lines are in SerialQueuesAndLines.cpp).
#include "serial/Serial.h"

#include "serial/Report.h"

#include <atomic>
#include <cstring>

using comm::COMMTIMEOUTS;
using comm::DCB;
using comm::OVERLAPPED;

namespace {

constexpr CSerial::LONG kInvalidHandle = comm::ERROR_INVALID_HANDLE;

} // namespace

struct CSerial::TransferTexts {
    bool reading;
    const char* notOpened;
    const char* unable;
    const char* withoutResult;
    const char* waitFailed;
};

// Texts of the failures of an operation that reads a setting record and writes it back.
struct CSerial::SettingTexts {
    const char* notOpened;
    const char* unableToGet;
    const char* unableToSet;
};

// The texts of an operation on the line settings, named after it.
#define SERIAL_LINE_TEXTS(operation)                                                               \
    CSerial::SettingTexts {                                                                        \
        "CSerial::" operation " - Device is not opened\n",                                         \
            "CSerial::" operation " - Unable to obtain DCB information\n",                         \
            "CSerial::" operation " - Unable to set DCB information\n"                             \
    }

namespace {

// The flow-control fields of the line settings for each handshaking mode, in the enum's order.
struct HandshakeFields {
    unsigned outxCtsFlow, outxDsrFlow, dtrControl, outX, inX, rtsControl;
};
constexpr HandshakeFields kHandshakes[] = {
    {0, 0, comm::DTR_CONTROL_ENABLE, 0, 0, comm::RTS_CONTROL_ENABLE},       // off
    {1, 1, comm::DTR_CONTROL_HANDSHAKE, 0, 0, comm::RTS_CONTROL_HANDSHAKE}, // hardware
    {0, 0, comm::DTR_CONTROL_DISABLE, 1, 1, comm::RTS_CONTROL_DISABLE},     // software
};

} // namespace

bool CSerial::Opened(const char* notOpenedTrace) {
    m_lErrorCode = comm::ERROR_SUCCESS;
    if (m_hPort != nullptr)
        return true;
    m_lErrorCode = kInvalidHandle;
    if (notOpenedTrace)
        SERIAL_TRACE(notOpenedTrace);
    return false;
}

CSerial::LONG CSerial::Failed(const char* trace) {
    m_lErrorCode = static_cast<LONG>(comm::GetLastError());
    if (trace)
        SERIAL_TRACE(trace);
    return m_lErrorCode;
}

bool CSerial::ReadLineSettings(const SettingTexts& texts, DCB& dcb) {
    if (!Opened(texts.notOpened))
        return false;
    dcb = DCB{};
    dcb.DCBlength = sizeof(DCB);
    if (!comm::GetCommState(m_hPort, &dcb)) {
        Failed(texts.unableToGet);
        return false;
    }
    return true;
}

CSerial::LONG CSerial::WriteLineSettings(const SettingTexts& texts, const DCB& dcb) {
    if (!comm::SetCommState(m_hPort, &dcb))
        return Failed(texts.unableToSet);
    return m_lErrorCode;
}

CSerial::CSerial()
    : m_lErrorCode(comm::ERROR_SUCCESS), m_hPort(nullptr), m_dwLastEvents(eventUnknown),
      m_hevtOverlappedRead(nullptr), m_hevtOverlappedWrite(nullptr), m_hevtOverlappedWait(nullptr) {
}

CSerial::~CSerial() {
    if (m_hPort) {
        SERIAL_TRACE("CSerial::~CSerial - Serial port not closed\n");
        CSerial::Close();
    }
}

CSerial::PortState CSerial::ProbePort(const char* portName) {
    HANDLE port = comm::CreateFileA(portName, comm::GENERIC_READ | comm::GENERIC_WRITE, 0, nullptr,
                                    comm::OPEN_EXISTING, comm::FILE_FLAG_OVERLAPPED, nullptr);
    if (port == comm::INVALID_HANDLE_VALUE) {
        switch (comm::GetLastError()) {
        case comm::ERROR_FILE_NOT_FOUND:
            return portNotFound;
        case comm::ERROR_ACCESS_DENIED:
            return portInUse;
        default:
            return portError;
        }
    }
    comm::CloseHandle(port);
    return portAvailable;
}

CSerial::LONG CSerial::Open(const char* portName, DWORD inQueueSize, DWORD outQueueSize) {
    m_lErrorCode = comm::ERROR_SUCCESS;
    if (m_hPort) {
        m_lErrorCode = comm::ERROR_ALREADY_INITIALIZED;
        SERIAL_TRACE("CSerial::Open - Port already opened\n");
        return m_lErrorCode;
    }

    m_hPort = comm::CreateFileA(portName, comm::GENERIC_READ | comm::GENERIC_WRITE, 0, nullptr,
                                comm::OPEN_EXISTING, comm::FILE_FLAG_OVERLAPPED, nullptr);
    if (m_hPort == comm::INVALID_HANDLE_VALUE) {
        m_hPort = nullptr;
        return Failed("CSerial::Open - Unable to open port\n");
    }

    SERIAL_ASSERT(m_hevtOverlappedRead == 0);
    SERIAL_ASSERT(m_hevtOverlappedWrite == 0);
    SERIAL_ASSERT(m_hevtOverlappedWait == 0);
    // Events left behind by a derived class would otherwise be lost.
    for (HANDLE* stale : {&m_hevtOverlappedRead, &m_hevtOverlappedWrite, &m_hevtOverlappedWait}) {
        if (*stale) {
            comm::CloseHandle(*stale);
            *stale = nullptr;
        }
    }

    // All three are attempted; the code kept is that of the last creation that failed.
    DWORD creationError = 0;
    for (HANDLE* event : {&m_hevtOverlappedRead, &m_hevtOverlappedWrite, &m_hevtOverlappedWait}) {
        *event = comm::CreateEventA(nullptr, comm::TRUE, comm::FALSE, nullptr);
        if (*event == nullptr)
            creationError = comm::GetLastError();
    }
    if (!m_hevtOverlappedRead || !m_hevtOverlappedWrite || !m_hevtOverlappedWait) {
        m_lErrorCode =
            static_cast<LONG>(creationError != 0 ? creationError : comm::ERROR_GEN_FAILURE);
        SERIAL_TRACE("CSerial::Open - Unable to create event\n");
        for (HANDLE* event :
             {&m_hevtOverlappedRead, &m_hevtOverlappedWrite, &m_hevtOverlappedWait}) {
            if (*event)
                comm::CloseHandle(*event);
            *event = nullptr;
        }
        comm::CloseHandle(m_hPort);
        m_hPort = nullptr;
        return m_lErrorCode;
    }

    if (!comm::SetupComm(m_hPort, inQueueSize, outQueueSize)) {
        const LONG error = static_cast<LONG>(comm::GetLastError());
        SERIAL_TRACE("CSerial::Open - Unable to setup the COM-port\n");
        Close();
        m_lErrorCode = error;
        return m_lErrorCode;
    }

    // Defaults, through the virtual table; only the last one's code reaches the result.
    SetMask(eventBreak | eventError | eventRxChar);
    Setup(baud9600, data8, parityNone, stopOne);
    SetupReadTimeouts(readImmediate);
    SetupHandshaking(handshakeOff);
    return m_lErrorCode;
}

CSerial::LONG CSerial::Close() {
    m_lErrorCode = comm::ERROR_SUCCESS;
    if (m_hPort == nullptr) {
        SERIAL_TRACE("CSerial::Close - Method called when device is not open\n");
        return m_lErrorCode;
    }
    for (HANDLE* handle :
         {&m_hevtOverlappedRead, &m_hevtOverlappedWrite, &m_hevtOverlappedWait, &m_hPort}) {
        comm::CloseHandle(*handle);
        *handle = nullptr;
    }
    return m_lErrorCode;
}

CSerial::LONG CSerial::Setup(Baudrate baudrate, DataBits dataBits, Parity parity,
                             StopBits stopBits) {
    static const SettingTexts texts = SERIAL_LINE_TEXTS("Setup");
    DCB dcb{};
    if (!ReadLineSettings(texts, dcb))
        return m_lErrorCode;
    // A value that does not fit the record's byte would reach the device as another value.
    auto fitsByte = [](std::int32_t value) { return value >= 0 && value <= 0xFF; };
    if (!fitsByte(dataBits) || !fitsByte(parity) || !fitsByte(stopBits)) {
        m_lErrorCode = comm::ERROR_INVALID_PARAMETER;
        SERIAL_TRACE(texts.unableToSet);
        return m_lErrorCode;
    }
    dcb.BaudRate = static_cast<DWORD>(baudrate);
    dcb.ByteSize = static_cast<BYTE>(dataBits);
    dcb.Parity = static_cast<BYTE>(parity);
    dcb.StopBits = static_cast<BYTE>(stopBits);
    dcb.fParity = parity != parityNone ? 1 : 0;
    return WriteLineSettings(texts, dcb);
}

CSerial::LONG CSerial::SetEventChar(BYTE eventChar, bool adjustMask) {
    static const SettingTexts texts = SERIAL_LINE_TEXTS("SetEventChar");
    DCB dcb{};
    if (!ReadLineSettings(texts, dcb))
        return m_lErrorCode;
    dcb.EvtChar = static_cast<char>(eventChar);
    // The mask's own outcome is what the result says unless writing the settings fails.
    if (adjustMask)
        SetMask(GetEventMask() | eventRxFlag);
    return WriteLineSettings(texts, dcb);
}

CSerial::LONG CSerial::SetMask(DWORD eventMask) {
    if (!Opened("CSerial::SetMask - Device is not opened\n"))
        return m_lErrorCode;
    if (!comm::SetCommMask(m_hPort, eventMask))
        return Failed("CSerial::SetMask - Unable to set event mask\n");
    return m_lErrorCode;
}

CSerial::LONG CSerial::WaitEvent(LPOVERLAPPED lpOverlapped, DWORD timeout) {
    if (!Opened("CSerial::WaitEvent - Device is not opened\n"))
        return m_lErrorCode;
    OVERLAPPED internal{};
    const bool blocking = lpOverlapped == nullptr;
    if (blocking) {
        internal.hEvent = m_hevtOverlappedWait;
        lpOverlapped = &internal;
    }
    SERIAL_ASSERT(HasOverlappedIoCompleted(lpOverlapped));

    if (comm::WaitCommEvent(m_hPort, &m_dwLastEvents, lpOverlapped)) {
        comm::SetEvent(lpOverlapped->hEvent);
        return m_lErrorCode;
    }
    const DWORD error = comm::GetLastError();
    if (error != comm::ERROR_IO_PENDING) {
        m_lErrorCode = static_cast<LONG>(error);
        SERIAL_TRACE("CSerial::WaitEvent - Unable to wait for COM event\n");
        return m_lErrorCode;
    }
    if (!blocking)
        return m_lErrorCode;

    switch (comm::WaitForSingleObject(lpOverlapped->hEvent, timeout)) {
    case comm::WAIT_OBJECT_0:
        return m_lErrorCode;
    case comm::WAIT_TIMEOUT: {
        DWORD ignored = 0;
        EndCancelled(lpOverlapped, &ignored);
        m_lErrorCode = comm::ERROR_TIMEOUT;
        return m_lErrorCode;
    }
    default: {
        Failed("CSerial::WaitEvent - Unable to wait until COM event has arrived\n");
        DWORD ignored = 0;
        EndCancelled(lpOverlapped, &ignored);
        return m_lErrorCode;
    }
    }
}

CSerial::LONG CSerial::SetupHandshaking(Handshaking handshaking) {
    static const SettingTexts texts = SERIAL_LINE_TEXTS("SetupHandshaking");
    DCB dcb{};
    if (!ReadLineSettings(texts, dcb))
        return m_lErrorCode;
    if (handshaking < handshakeOff || handshaking > handshakeSoftware) {
        SERIAL_ASSERT(false);
        m_lErrorCode = comm::E_INVALIDARG;
        return m_lErrorCode;
    }
    const HandshakeFields& fields = kHandshakes[handshaking];
    dcb.fOutxCtsFlow = fields.outxCtsFlow;
    dcb.fOutxDsrFlow = fields.outxDsrFlow;
    dcb.fDtrControl = fields.dtrControl;
    dcb.fOutX = fields.outX;
    dcb.fInX = fields.inX;
    dcb.fRtsControl = fields.rtsControl;
    return WriteLineSettings(texts, dcb);
}

CSerial::LONG CSerial::SetupReadTimeouts(ReadTimeouts readTimeouts) {
    static const SettingTexts texts{
        "CSerial::SetupReadTimeouts - Device is not opened\n",
        "CSerial::SetupReadTimeouts - Unable to obtain timeout information\n",
        "CSerial::SetupReadTimeouts - Unable to set timeout information\n"};
    if (m_hPort != nullptr && readTimeouts != readImmediate && readTimeouts != readBlocking) {
        SERIAL_ASSERT(false);
        m_lErrorCode = comm::E_INVALIDARG;
        return m_lErrorCode;
    }
    // Immediate: a read returns at once with what is there. Blocking: it waits for all it asked.
    return SetReadInterval(texts, readTimeouts == readImmediate ? comm::MAXDWORD : 0);
}

CSerial::LONG CSerial::SetupReadGap(DWORD dwGapMs) {
    static const SettingTexts texts{
        "CSerial::SetupReadGap - Device is not opened\n",
        "CSerial::SetupReadGap - Unable to obtain timeout information\n",
        "CSerial::SetupReadGap - Unable to set timeout information\n"};
    // MAXDWORD as the interval would make reads return at once instead.
    if (m_hPort != nullptr && (dwGapMs == 0 || dwGapMs == comm::MAXDWORD)) {
        m_lErrorCode = comm::E_INVALIDARG;
        SERIAL_TRACE("CSerial::SetupReadGap - No such gap\n");
        return m_lErrorCode;
    }
    return SetReadInterval(texts, dwGapMs);
}

// The read time-outs with only the interval between two bytes set, as COMMTIMEOUTS reads it; the
// write time-outs stay as they are.
CSerial::LONG CSerial::SetReadInterval(const SettingTexts& texts, DWORD interval) {
    if (!Opened(texts.notOpened))
        return m_lErrorCode;
    COMMTIMEOUTS timeouts{};
    if (!comm::GetCommTimeouts(m_hPort, &timeouts))
        return Failed(texts.unableToGet);
    timeouts.ReadIntervalTimeout = interval;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    if (!comm::SetCommTimeouts(m_hPort, &timeouts))
        return Failed(texts.unableToSet);
    return m_lErrorCode;
}

CSerial::Baudrate CSerial::GetBaudrate() {
    DCB dcb{};
    if (!ReadLineSettings(SERIAL_LINE_TEXTS("GetBaudrate"), dcb))
        return baudUnknown;
    return static_cast<Baudrate>(dcb.BaudRate);
}

CSerial::DataBits CSerial::GetDataBits() {
    DCB dcb{};
    if (!ReadLineSettings(SERIAL_LINE_TEXTS("GetDataBits"), dcb))
        return dataUnknown;
    return static_cast<DataBits>(dcb.ByteSize);
}

CSerial::Parity CSerial::GetParity() {
    DCB dcb{};
    if (!ReadLineSettings(SERIAL_LINE_TEXTS("GetParity"), dcb))
        return parityUnknown;
    if (!dcb.fParity)
        return parityNone;
    return static_cast<Parity>(dcb.Parity);
}

CSerial::StopBits CSerial::GetStopBits() {
    DCB dcb{};
    if (!ReadLineSettings(SERIAL_LINE_TEXTS("GetStopBits"), dcb))
        return stopUnknown;
    return static_cast<StopBits>(dcb.StopBits);
}

CSerial::Handshaking CSerial::GetHandshaking() {
    DCB dcb{};
    if (!ReadLineSettings(SERIAL_LINE_TEXTS("GetHandshaking"), dcb))
        return handshakeUnknown;
    if (dcb.fDtrControl == comm::DTR_CONTROL_HANDSHAKE &&
        dcb.fRtsControl == comm::RTS_CONTROL_HANDSHAKE)
        return handshakeHardware;
    if (dcb.fOutX && dcb.fInX)
        return handshakeSoftware;
    return handshakeOff;
}

CSerial::BYTE CSerial::GetEventChar() {
    DCB dcb{};
    if (!ReadLineSettings(SERIAL_LINE_TEXTS("GetEventChar"), dcb))
        return 0;
    return static_cast<BYTE>(dcb.EvtChar);
}

#undef SERIAL_LINE_TEXTS

CSerial::DWORD CSerial::GetEventMask() {
    if (!Opened("CSerial::GetEventMask - Device is not opened\n"))
        return eventNone;
    DWORD mask = 0;
    if (!comm::GetCommMask(m_hPort, &mask)) {
        Failed("CSerial::GetEventMask - Unable to get the event mask\n");
        return eventNone;
    }
    return mask;
}

CSerial::LONG CSerial::Write(const char* text, DWORD* pdwWritten, LPOVERLAPPED lpOverlapped,
                             DWORD timeout) {
    // A null text is written as an empty one.
    const DWORD length = text ? static_cast<DWORD>(std::strlen(text)) : 0;
    return Write(static_cast<const void*>(text), length, pdwWritten, lpOverlapped, timeout);
}

CSerial::LONG CSerial::Write(const void* data, DWORD length, DWORD* pdwWritten,
                             LPOVERLAPPED lpOverlapped, DWORD timeout) {
    SERIAL_ASSERT(!lpOverlapped || pdwWritten);
    static const TransferTexts texts{false, "CSerial::Write - Device is not opened\n",
                                     "CSerial::Write - Unable to write the data\n",
                                     "CSerial::Write - Overlapped completed without result\n",
                                     "CSerial::Write - Unable to wait until data has been sent\n"};
    return Transfer(texts, const_cast<void*>(data), length, pdwWritten, lpOverlapped, timeout);
}

CSerial::LONG CSerial::Read(void* buffer, DWORD length, DWORD* pdwRead, LPOVERLAPPED lpOverlapped,
                            DWORD timeout) {
    SERIAL_ASSERT(!lpOverlapped || pdwRead);
    static const TransferTexts texts{true, "CSerial::Read - Device is not opened\n",
                                     "CSerial::Read - Unable to read the data\n",
                                     "CSerial::Read - Overlapped completed without result\n",
                                     "CSerial::Read - Unable to wait until data has been read\n"};
    return Transfer(texts, buffer, length, pdwRead, lpOverlapped, timeout);
}

CSerial::LONG CSerial::Transfer(const TransferTexts& texts, void* data, DWORD length, DWORD* count,
                                LPOVERLAPPED lpOverlapped, DWORD timeout) {
    DWORD spare = 0;
    if (count == nullptr)
        count = &spare;
    *count = 0;
    if (!Opened(texts.notOpened))
        return m_lErrorCode;
    OVERLAPPED internal{};
    const bool blocking = lpOverlapped == nullptr;
    if (blocking) {
        internal.hEvent = texts.reading ? m_hevtOverlappedRead : m_hevtOverlappedWrite;
        lpOverlapped = &internal;
    }
    SERIAL_ASSERT(HasOverlappedIoCompleted(lpOverlapped));

    const bool done = texts.reading ? comm::ReadFile(m_hPort, data, length, count, lpOverlapped)
                                    : comm::WriteFile(m_hPort, data, length, count, lpOverlapped);
    if (done) {
        comm::SetEvent(lpOverlapped->hEvent);
        return m_lErrorCode;
    }
    const DWORD error = comm::GetLastError();
    if (error != comm::ERROR_IO_PENDING) {
        m_lErrorCode = static_cast<LONG>(error);
        SERIAL_TRACE(texts.unable);
        return m_lErrorCode;
    }
    if (!blocking)
        return m_lErrorCode;

    switch (comm::WaitForSingleObject(lpOverlapped->hEvent, timeout)) {
    case comm::WAIT_OBJECT_0:
        if (!comm::GetOverlappedResult(m_hPort, lpOverlapped, count, comm::FALSE))
            return Failed(texts.withoutResult);
        return m_lErrorCode;
    case comm::WAIT_TIMEOUT:
        // Bytes that moved before the cancellation are reported, so none of them is lost.
        EndCancelled(lpOverlapped, count);
        m_lErrorCode = comm::ERROR_TIMEOUT;
        return m_lErrorCode;
    default:
        Failed(texts.waitFailed);
        EndCancelled(lpOverlapped, count);
        return m_lErrorCode;
    }
}

CSerial::LONG CSerial::FinishTransfer(LPOVERLAPPED lpOverlapped, DWORD* pdwMoved, bool bCancel) {
    m_lErrorCode = comm::ERROR_SUCCESS;
    DWORD spare = 0;
    if (pdwMoved == nullptr)
        pdwMoved = &spare;
    *pdwMoved = 0;
    SERIAL_ASSERT(lpOverlapped);
    if (lpOverlapped == nullptr) {
        m_lErrorCode = comm::E_INVALIDARG;
        return m_lErrorCode;
    }
    // Closing the port ended every transfer, so only an open one can have one to cancel.
    if (bCancel && m_hPort != nullptr)
        EndCancelled(lpOverlapped, pdwMoved);
    if (!comm::GetOverlappedResult(m_hPort, lpOverlapped, pdwMoved, comm::FALSE))
        return Failed(nullptr);
    return m_lErrorCode;
}

// Cancels the pending operation on an internal record and returns only once it has ended, so
// that the record (in the caller's frame) and the buffer are never touched after the return.
void CSerial::EndCancelled(LPOVERLAPPED lpOverlapped, DWORD* count) {
    while (!comm::HasOverlappedIoCompleted(lpOverlapped)) {
        comm::CancelIo(m_hPort);
        comm::WaitForSingleObject(lpOverlapped->hEvent, 10);
    }
    DWORD moved = 0;
    comm::GetOverlappedResult(m_hPort, lpOverlapped, &moved, comm::FALSE);
    *count = moved;
}

CSerial::DWORD CSerial::TakeLastEvents() {
    return std::atomic_ref<DWORD>(m_dwLastEvents).exchange(eventUnknown);
}
