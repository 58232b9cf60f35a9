// Bytes for the device. They wait here, in order and within a bound, and go to the port through
// one asynchronous write at a time, as fast as the port takes them; nothing here waits for the
// device. A device that holds off (XOFF, CTS low, a full buffer) only makes the queue fill: the
// caller then leaves its peers unread (TCP holds them back) instead of dropping anything.
//
// The caller hands bytes in while Room() allows, and calls Pump() whenever it can: on each tick,
// and when Event() is set (a write ended).
#pragma once

#include "serial/Serial.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class CDeviceQueue {
public:
    // A whole network block always fits into an empty queue; a full one holds several seconds of
    // a fast line and a minute of a slow one.
    static constexpr std::size_t LIMIT = 64u << 10;
    // A write that has not ended this long after its bytes should have left counts as held off.
    static constexpr std::uint64_t STALL_MS = 2000;

    explicit CDeviceQueue(CSerial& serial, std::size_t nLimit = LIMIT);
    // The port outlives the queue: a write still running must not outlive its record.
    ~CDeviceQueue();
    CDeviceQueue(const CDeviceQueue&) = delete;
    CDeviceQueue& operator=(const CDeviceQueue&) = delete;

    // The event that is set when a write ends; made on first use (nullptr if none could be made,
    // and then Pump() is the only way on).
    CSerial::HANDLE Event();
    // The line's rate, for the size of each write (half a second of bytes) and the stall rule.
    void SetRate(std::uint32_t nBaud);

    std::size_t Limit() const { return m_nLimit; }
    // Bytes handed in that the port has not taken yet, the write under way included.
    std::size_t Waiting() const { return m_strQueued.size() + m_flight.size(); }
    std::size_t Room() const { return m_nLimit > Waiting() ? m_nLimit - Waiting() : 0; }
    // Hands the bytes in, all of them, or none (false) when they do not fit.
    bool Push(std::string_view data);

    // Takes the end of a write that ended and starts the next one. nNow: GetTickCount64().
    void Pump(std::uint64_t nNow);
    // Nothing waits and no write runs.
    bool Idle() const { return Waiting() == 0; }
    // When the port stopped taking bytes, while it takes none and bytes wait; else 0.
    std::uint64_t HeldOffSince(std::uint64_t nNow) const;
    // The port's answer to the last write that failed (0: none failed since the last success).
    CSerial::LONG LastFailure() const { return m_lFailure; }

    // Ends a write under way and forgets what waits; returns how many bytes that was.
    std::size_t Discard();
    // Bytes the port has taken since the start.
    std::uint64_t Written() const { return m_nWritten; }

private:
    // Ends the write under way (bCancel: cancels it first); what it did not move goes back to
    // the front.
    void EndWrite(bool bCancel, std::uint64_t nNow);

    CSerial& m_serial;
    std::size_t m_nLimit;
    std::size_t m_nChunk = 4096;
    std::uint64_t m_nChunkMs = 500;
    CSerial::HANDLE m_hEvent = nullptr;
    comm::OVERLAPPED m_ov{};
    std::string m_strQueued;    // after the write under way
    std::vector<char> m_flight; // the write under way: the port reads from here until it ends
    bool m_bPending = false;
    std::uint64_t m_nStartedAt = 0;
    std::uint64_t m_nWritten = 0;
    CSerial::LONG m_lFailure = 0;
};
