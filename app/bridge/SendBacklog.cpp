#include "app/bridge/SendBacklog.h"

#include <algorithm>
#include <cerrno>

namespace {

bool WouldBlock(int nError) {
    return nError == EWOULDBLOCK || nError == EAGAIN;
}

// One send of at most INT_MAX bytes: how many went out, 0 when the socket had no room, -1 when
// it failed.
int SendSome(CByteSink& sink, const char* pData, std::size_t nLength, int& nError) {
    const int nChunk = static_cast<int>(std::min<std::size_t>(nLength, 1u << 30));
    const int nSent = sink.Put(pData, nChunk, nError);
    if (nSent >= 0) {
        nError = 0;
        return nSent;
    }
    return WouldBlock(nError) ? 0 : -1;
}

// A bare socket.
class CSocketSink final : public CByteSink {
public:
    explicit CSocketSink(sock::SOCKET s) : m_socket(s) {}
    int Put(const char* pData, int nLength, int& error) override {
        const int nSent = sock::send(m_socket, pData, nLength, 0);
        error = nSent < 0 ? sock::WSAGetLastError() : 0;
        return nSent;
    }

private:
    sock::SOCKET m_socket;
};

} // namespace

bool CSendBacklog::Flush(sock::SOCKET s) {
    CSocketSink sink(s);
    return Flush(sink);
}

bool CSendBacklog::Send(sock::SOCKET s, const char* pData, std::size_t nLength) {
    CSocketSink sink(s);
    return Send(sink, pData, nLength);
}

bool CSendBacklog::Flush(CByteSink& s) {
    if (!s.Drain(m_nError) && !WouldBlock(m_nError))
        return false;
    while (Waiting() > 0) {
        const int nSent = SendSome(s, m_strData.data() + m_nHead, Waiting(), m_nError);
        if (nSent < 0)
            return false;
        if (nSent == 0)
            break;
        Sent(m_strData.data() + m_nHead, static_cast<std::size_t>(nSent));
        m_nHead += static_cast<std::size_t>(nSent);
    }
    if (Waiting() == 0) {
        m_strData.clear();
        m_nHead = 0;
    } else if (m_nHead >= SEND_BACKLOG_COMPACT_AT && m_nHead * 2 >= m_strData.size()) {
        m_strData.erase(0, m_nHead);
        m_nHead = 0;
    }
    return true;
}

bool CSendBacklog::Send(CByteSink& s, const char* pData, std::size_t nLength) {
    // What waits goes first: the block queues behind it and leaves with it as far as it can.
    Flush(s);
    if (Waiting() + nLength > m_nLimit)
        return false;
    m_strData.append(pData, nLength);
    Flush(s);
    return true;
}

std::size_t CSendBacklog::Drop() {
    const std::size_t nWaiting = Waiting();
    m_strData.clear();
    m_strData.shrink_to_fit();
    m_nHead = 0;
    return nWaiting;
}

bool CSendBacklog::Hold(const char* pData, std::size_t nLength) {
    if (Waiting() + nLength > m_nLimit)
        return false;
    m_strData.append(pData, nLength);
    return true;
}

void CSendBacklog::KeepSent(std::size_t nKeep) {
    m_nKeepSent = nKeep;
    m_strSent.clear();
}

void CSendBacklog::NewConnection() {
    m_nSent = 0;
    m_strSent.clear();
}

void CSendBacklog::Sent(const char* pData, std::size_t nLength) {
    m_nSent += static_cast<std::int64_t>(nLength);
    if (m_nKeepSent == 0)
        return;
    m_strSent.append(pData, nLength);
    if (m_strSent.size() > 2 * m_nKeepSent)
        m_strSent.erase(0, m_strSent.size() - m_nKeepSent);
}

std::size_t CSendBacklog::Rewind(std::int64_t nAcked, std::size_t* pLost) {
    const std::size_t nUnacked =
        nAcked >= 0 && nAcked < m_nSent ? static_cast<std::size_t>(m_nSent - nAcked) : 0;
    const std::size_t nBack = std::min(nUnacked, m_strSent.size());
    if (pLost != nullptr)
        *pLost = nUnacked - nBack;
    m_strData.insert(m_nHead, m_strSent, m_strSent.size() - nBack, nBack);
    NewConnection();
    return nBack;
}
