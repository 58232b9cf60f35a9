// CSerial: one serial port, opened for overlapped I/O, with line settings, handshaking, read
// time-out modes, event waiting, blocking and asynchronous transfers, queue, line-error and
// modem-line queries, and control of the DTR and RTS lines and of breaks.
//
// Every operation first clears the last error, records the platform's code (or one of the codes
// below) when it fails, and returns the recorded code; operations that return a setting or a
// count return a failure value instead and leave the cause in the last error (GetLastError()).
// Failure paths emit a debug trace, and violated preconditions a debug assertion (serial/Report.h).
//
// The object has no lock; use it from one thread. An asynchronous operation started with the
// caller's own OVERLAPPED record must have ended (its event signalled) before the record, its
// buffer or the object go away; closing the port ends every such operation.
#pragma once

#include "serial/comm/Comm.h"

#include <cstdint>

class CSerial {
public:
    using LONG = comm::LONG;
    using DWORD = comm::DWORD;
    using BYTE = comm::BYTE;
    using HANDLE = comm::HANDLE;
    using LPOVERLAPPED = comm::LPOVERLAPPED;

    enum Baudrate : std::int32_t {
        baudUnknown = -1,
        baud110 = 110,
        baud300 = 300,
        baud600 = 600,
        baud1200 = 1200,
        baud2400 = 2400,
        baud4800 = 4800,
        baud9600 = 9600,
        baud14400 = 14400,
        baud19200 = 19200,
        baud38400 = 38400,
        baud56000 = 56000,
        baud57600 = 57600,
        baud115200 = 115200,
        baud128000 = 128000,
        baud256000 = 256000,
    };
    enum DataBits : std::int32_t {
        dataUnknown = -1,
        data5 = 5,
        data6 = 6,
        data7 = 7,
        data8 = 8,
    };
    enum Parity : std::int32_t {
        parityUnknown = -1,
        parityNone = 0,
        parityOdd = 1,
        parityEven = 2,
        parityMark = 3,
        paritySpace = 4,
    };
    enum StopBits : std::int32_t {
        stopUnknown = -1,
        stopOne = 0,
        stopOneHalf = 1,
        stopTwo = 2,
    };
    enum Handshaking : std::int32_t {
        handshakeUnknown = -1,
        handshakeOff = 0,
        handshakeHardware = 1,
        handshakeSoftware = 2,
    };
    enum ReadTimeouts : std::int32_t {
        readImmediate = 0,
        readBlocking = 1,
    };
    enum PortState : std::int32_t {
        portError = -1,
        portAvailable = 0,
        portNotFound = 1,
        portInUse = 2,
    };
    // Event bits, combined by OR.
    enum Event : DWORD {
        eventUnknown = 0xFFFFFFFFu,
        eventNone = 0,
        eventRxChar = comm::EV_RXCHAR,
        eventRxFlag = comm::EV_RXFLAG,
        eventTxEmpty = comm::EV_TXEMPTY,
        eventCts = comm::EV_CTS,
        eventDsr = comm::EV_DSR,
        eventRlsd = comm::EV_RLSD,
        eventBreak = comm::EV_BREAK,
        eventError = comm::EV_ERR,
        eventRing = comm::EV_RING,
        eventPrinterError = comm::EV_PERR,
        eventRx80Full = comm::EV_RX80FULL,
        eventProvider1 = comm::EV_EVENT1,
        eventProvider2 = comm::EV_EVENT2,
    };

    CSerial();
    virtual ~CSerial();
    CSerial(const CSerial&) = delete;
    CSerial& operator=(const CSerial&) = delete;

    virtual LONG Open(const char* portName, DWORD inQueueSize, DWORD outQueueSize);
    virtual LONG Close();
    virtual LONG Setup(Baudrate baudrate, DataBits dataBits, Parity parity, StopBits stopBits);
    virtual LONG SetEventChar(BYTE eventChar, bool adjustMask);
    virtual LONG SetMask(DWORD eventMask);
    virtual LONG WaitEvent(LPOVERLAPPED lpOverlapped, DWORD timeout);
    virtual LONG SetupHandshaking(Handshaking handshaking);
    virtual LONG SetupReadTimeouts(ReadTimeouts readTimeouts);
    // Reads that wait for their first byte without limit, then end once no byte came for
    // dwGapMs milliseconds or their buffer is full: each read takes one burst. 0 is no gap.
    LONG SetupReadGap(DWORD dwGapMs);
    virtual Baudrate GetBaudrate();
    virtual DataBits GetDataBits();
    virtual Parity GetParity();
    virtual StopBits GetStopBits();
    virtual Handshaking GetHandshaking();
    virtual DWORD GetEventMask();
    virtual BYTE GetEventChar();
    virtual LONG Write(const char* text, DWORD* pdwWritten, LPOVERLAPPED lpOverlapped,
                       DWORD timeout);
    virtual LONG Write(const void* data, DWORD length, DWORD* pdwWritten, LPOVERLAPPED lpOverlapped,
                       DWORD timeout);
    virtual LONG Read(void* buffer, DWORD length, DWORD* pdwRead, LPOVERLAPPED lpOverlapped,
                      DWORD timeout);

    // The end of an asynchronous read or write started with the caller's record: the count it
    // moved, and its own outcome as the result. With bCancel one still pending is cancelled
    // first, and what it moved before counts; without, a pending one gives ERROR_IO_INCOMPLETE.
    LONG FinishTransfer(LPOVERLAPPED lpOverlapped, DWORD* pdwMoved, bool bCancel);

    static PortState ProbePort(const char* portName);

    LONG Flush();
    // Discards both queues: what waits to be sent and what was received but not yet read.
    LONG Purge();
    // Discards only what waits to be sent; received bytes stay to be read.
    LONG PurgeOutput();
    // Discards only what was received and not yet read; what waits to be sent still goes.
    LONG PurgeInput();
    // Raise (on) or drop the DTR or RTS output line. A line that the handshaking drives fails
    // with ERROR_INVALID_PARAMETER, a device without modem lines with ERROR_NOT_SUPPORTED; the
    // port stays usable either way.
    LONG SetDTR(bool on);
    LONG SetRTS(bool on);
    // Starts (on) or ends a break: the line is held in the spacing state until it ends.
    LONG SetBreak(bool on);
    DWORD TakeLastEvents();
    DWORD GetError();
    DWORD GetInQueueCount();
    DWORD GetOutQueueCount();
    bool GetCTS();
    bool GetDSR();
    bool GetRing();
    bool GetRLSD();

    // The code recorded by the last operation (0 after a success).
    LONG GetLastError() const { return m_lErrorCode; }

protected:
    LONG m_lErrorCode;
    HANDLE m_hPort;
    DWORD m_dwLastEvents;
    HANDLE m_hevtOverlappedRead;
    HANDLE m_hevtOverlappedWrite;
    HANDLE m_hevtOverlappedWait;

private:
    struct TransferTexts;
    struct SettingTexts;
    // Starts an operation: clears the recorded code; when the port is not open, records
    // ERROR_INVALID_HANDLE, emits the trace (if one is given) and returns false.
    bool Opened(const char* notOpenedTrace);
    // Records the platform's last error, emits the trace (if one is given) and returns the code.
    LONG Failed(const char* trace);
    // The line settings: read after the open guard (false, with the code recorded, on failure),
    // and written back (the recorded code).
    bool ReadLineSettings(const SettingTexts& texts, comm::DCB& dcb);
    LONG WriteLineSettings(const SettingTexts& texts, const comm::DCB& dcb);
    LONG SetReadInterval(const SettingTexts& texts, DWORD interval);
    LONG Transfer(const TransferTexts& texts, void* data, DWORD length, DWORD* count,
                  LPOVERLAPPED lpOverlapped, DWORD timeout);
    void EndCancelled(LPOVERLAPPED lpOverlapped, DWORD* count);
    LONG PurgeQueues(DWORD flags);
    LONG Escape(DWORD func, const char* notOpenedTrace, const char* failureTrace);
    DWORD QueryStatus(comm::COMSTAT* stat, const char* notOpenedTrace, const char* failureTrace);
    bool ModemLine(DWORD bit, const char* failureTrace);
};
