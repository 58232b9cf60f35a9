// Bytes for the server that its connection has not taken yet. The window never waits for the
// server: what a send cannot pass on now waits here, in order, and goes out first at the next
// chance; new blocks queue behind it. The backlog is bounded, so that a server that stops
// reading for good is noticed instead of holding the window's memory.
#pragma once

#include "app/platform/Socket.h"

#include <cstddef>
#include <cstdint>
#include <string>

// About six minutes of a serial line at 115200 baud: a server that takes longer than that to
// read again is taken as gone.
inline constexpr std::size_t SEND_BACKLOG_LIMIT = 4u << 20;
// Bytes already sent are cut from the front of the buffer once there are at least this many of
// them and they make up at least half of it, so that a backlog that never runs empty stays small.
inline constexpr std::size_t SEND_BACKLOG_COMPACT_AT = 64u << 10;

// Where the backlog's bytes go: a connection that takes what it can without waiting.
class CByteSink {
public:
    virtual ~CByteSink() = default;
    // How many of the bytes it took (0: no room now), or SOCKET_ERROR with error set (as errno;
    // EWOULDBLOCK also means no room).
    virtual int Put(const char* pData, int nLength, int& error) = 0;
    // Its own bytes, taken before, go on towards the peer as far as they can; false when that
    // failed (error set).
    virtual bool Drain(int& error) {
        error = 0;
        return true;
    }
};

class CSendBacklog {
public:
    explicit CSendBacklog(std::size_t nLimit = SEND_BACKLOG_LIMIT) : m_nLimit(nLimit) {}

    // Sends what waits, then as much of the block as the socket takes; the rest waits. False,
    // with nothing of the block kept, when waiting bytes and block together would pass the bound.
    bool Send(CByteSink& sink, const char* pData, std::size_t nLength);
    bool Send(sock::SOCKET s, const char* pData, std::size_t nLength);
    // Sends what waits, as far as the socket takes it. False when the socket failed (the bytes
    // stay; the error is in LastError()).
    bool Flush(CByteSink& sink);
    bool Flush(sock::SOCKET s);
    std::size_t Waiting() const { return m_strData.size() - m_nHead; }
    // Forgets what waits and returns how many bytes that was.
    std::size_t Drop();
    // The error of the last failed send, as errno; 0 after a send that went through.
    int LastError() const { return m_nError; }

    std::size_t Limit() const { return m_nLimit; }
    void SetLimit(std::size_t nLimit) { m_nLimit = nLimit; }

    // While the server is away: the block waits, in order, for the next connection. False, with
    // nothing of it kept, when it would pass the bound.
    bool Hold(const char* pData, std::size_t nLength);

    // For a connection that may die unnoticed: the last nKeep bytes handed to the system are kept
    // (0, the default, keeps none), so that what the peer never acknowledged can be sent again.
    void KeepSent(std::size_t nKeep);
    // A new connection begins: the count of bytes sent starts again.
    void NewConnection();
    // The connection ended with nAcked bytes of its stream acknowledged: the bytes sent after
    // those go back in front of what waits, as far as they were kept. Returns how many went back;
    // *pLost counts those that were not kept.
    std::size_t Rewind(std::int64_t nAcked, std::size_t* pLost);

private:
    void Sent(const char* pData, std::size_t nLength);

    std::string m_strData; // waiting bytes start at m_nHead
    std::size_t m_nHead = 0;
    std::size_t m_nLimit;
    int m_nError = 0;
    std::size_t m_nKeepSent = 0;
    std::string m_strSent;    // the last bytes handed to the system, at most twice m_nKeepSent
    std::int64_t m_nSent = 0; // bytes handed to the system since the connect
};
