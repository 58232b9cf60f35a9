// The fast mode's background read of the device: one read is always pending on the port, and the
// port ends it once the line has been quiet for the gap or the buffer is full, so that each burst
// arrives whole. Owns the read's event, its I/O record and its buffer; the window's thread
// watches the event and takes the burst.
#pragma once

#include "serial/Serial.h"

#include <cstddef>
#include <cstdint>

// The quiet gap that ends a burst from the device: 3.5 character times of 10 bits at the baud
// rate, rounded up to whole milliseconds and never less than 1.
unsigned SerialQuietGapMs(std::uint32_t nBaudrate);

class CSerialBurstRead {
public:
    static constexpr std::size_t BUFFER_SIZE = 3096;

    explicit CSerialBurstRead(CSerial& serial) : m_serial(serial) {}
    ~CSerialBurstRead();
    CSerialBurstRead(const CSerialBurstRead&) = delete;
    CSerialBurstRead& operator=(const CSerialBurstRead&) = delete;

    // Makes the port end each read on a quiet gap of nGapMs. False when the port refuses the gap
    // or no event could be made; nothing is pending then.
    bool Prepare(CSerial::DWORD nGapMs);
    // The event that is set when a read ends; nullptr before Prepare.
    CSerial::HANDLE Event() const { return m_hEvent; }

    // Starts the next read. False when it cannot start: the device is gone (after its last bytes
    // were read).
    bool Arm();
    // A read was started and has not been taken yet.
    bool Pending() const { return m_bPending; }
    // The pending read has ended and waits to be taken.
    bool Ended() const;
    // Takes the read's outcome: the bytes it moved (at Data()) and the port's result. With
    // bCancel a read that is still running is cancelled first; what it had read is kept. Nothing
    // pending: 0 bytes and result 0.
    CSerial::DWORD Take(bool bCancel, CSerial::LONG* pResult = nullptr);
    const char* Data() const { return m_buffer; }
    // Bytes of a read that has ended but has not been taken.
    CSerial::DWORD Held() const;

private:
    CSerial& m_serial;
    CSerial::HANDLE m_hEvent = nullptr;
    comm::OVERLAPPED m_ov{};
    bool m_bPending = false; // m_ov is in use by the port
    char m_buffer[BUFFER_SIZE] = {};
};
