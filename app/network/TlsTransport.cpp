#include "app/network/TlsTransport.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// Socket reads per call at the most, so that a peer that never stops cannot hold the caller.
constexpr int kReadsPerCall = 8;
constexpr int kReadSize = 16 * 1024 + 512;

} // namespace

CTlsTransport::CTlsTransport(sock::SOCKET s, std::shared_ptr<const CTlsConfig> config,
                             std::string peer)
    : CTransport(s), m_config(std::move(config)), m_session(*m_config, std::move(peer)) {}

std::string CTlsTransport::Failure() const {
    return TlsFailureTip(m_session.Failure());
}

void CTlsTransport::TakeWire() {
    std::string wire = m_session.TakeWire();
    if (wire.empty())
        return;
    if (m_nHead == m_wire.size()) {
        m_wire.swap(wire);
        m_nHead = 0;
        return;
    }
    m_wire.append(wire);
}

bool CTlsTransport::Drain(int& error) {
    error = 0;
    TakeWire();
    while (m_nHead < m_wire.size()) {
        const int n = CTransport::Put(
            m_wire.data() + m_nHead,
            static_cast<int>(std::min<std::size_t>(m_wire.size() - m_nHead, std::size_t{1} << 30)),
            error);
        if (n < 0 && error != EWOULDBLOCK && error != EAGAIN)
            return false;
        if (n <= 0) {
            error = EWOULDBLOCK;
            return false;
        }
        m_nHead += static_cast<std::size_t>(n);
    }
    m_wire.clear();
    m_nHead = 0;
    return true;
}

bool CTlsTransport::Fill(int& error) {
    char buffer[kReadSize];
    for (int i = 0; i < kReadsPerCall && m_session.WantsWire(); ++i) {
        const int n = CTransport::Receive(buffer, sizeof(buffer), error);
        if (n > 0) {
            m_session.PutWire(buffer, static_cast<std::size_t>(n));
            continue;
        }
        if (n == 0) {
            m_bEnded = true;
            error = 0;
            return false;
        }
        if (error == EWOULDBLOCK || error == EAGAIN)
            break;
        return false;
    }
    error = 0;
    return true;
}

CTransport::Stage CTlsTransport::Handshake() {
    if (m_session.Ready())
        return Stage::ready;
    for (int i = 0; i < kReadsPerCall && !m_session.Failed(); ++i) {
        int error = 0;
        const bool bOpen = Fill(error);
        const bool bDone = m_session.Handshake();
        Drain(error);
        if (bDone)
            return Stage::ready;
        if (!bOpen) {
            m_session.Fail(TlsFailure::Kind::closed, error != 0 ? std::strerror(error) : "");
            break;
        }
        if (!m_session.HoldsRecord() && sock::select(Socket(), 0, 0) <= 0)
            return m_session.Failed() ? Stage::failed : Stage::handshake;
    }
    return m_session.Failed() ? Stage::failed : Stage::handshake;
}

int CTlsTransport::Receive(char* pBuffer, int nSize, int& error) {
    if (!m_session.Ready()) {
        const Stage stage = Handshake();
        if (stage != Stage::ready) {
            error = stage == Stage::failed ? EPROTO : EWOULDBLOCK;
            return sock::SOCKET_ERROR;
        }
    }
    // As a recv: whatever has come, up to nSize, from as many records as are whole.
    int nTotal = 0;
    error = 0;
    for (int i = 0; i < kReadsPerCall * 4 && nTotal < nSize; ++i) {
        if (!m_session.HoldsRecord()) {
            int nFillError = 0;
            if (!Fill(nFillError) && !m_session.HoldsRecord()) {
                if (nTotal > 0)
                    break; // the end, or the failure, comes at the next call
                error = nFillError;
                return m_bEnded ? 0 : sock::SOCKET_ERROR;
            }
        }
        const int n = m_session.ReadPlain(pBuffer + nTotal, nSize - nTotal);
        if (n > 0) {
            nTotal += n;
            continue;
        }
        if (n == -1) { // the peer ended the session
            m_bEnded = true;
            break;
        }
        if (n == -2) {
            if (nTotal > 0)
                break;
            error = EPROTO;
            return sock::SOCKET_ERROR;
        }
        if (!m_session.HoldsRecord() && sock::select(Socket(), 0, 0) <= 0)
            break; // nothing whole yet
    }
    int nDrainError = 0;
    Drain(nDrainError); // what reading made (a key update's answer)
    if (nTotal > 0)
        return nTotal;
    if (m_bEnded)
        return 0;
    error = EWOULDBLOCK;
    return sock::SOCKET_ERROR;
}

int CTlsTransport::Put(const char* pData, int nLength, int& error) {
    if (!m_session.Ready() || m_session.Failed()) {
        error = m_session.Failed() ? EPROTO : EWOULDBLOCK;
        return m_session.Failed() ? sock::SOCKET_ERROR : 0;
    }
    if (!Drain(error) && error != EWOULDBLOCK)
        return sock::SOCKET_ERROR;
    // Sealed bytes are the transport's to send: it takes what fits in its room.
    const std::size_t nRoom = WireWaiting() < TLS_WIRE_ROOM ? TLS_WIRE_ROOM - WireWaiting() : 0;
    const std::size_t nTake = std::min<std::size_t>(static_cast<std::size_t>(nLength), nRoom);
    if (nTake == 0) {
        error = EWOULDBLOCK;
        return 0;
    }
    m_session.WritePlain(pData, nTake);
    if (m_session.Failed()) {
        error = EPROTO;
        return sock::SOCKET_ERROR;
    }
    if (!Drain(error) && error != EWOULDBLOCK)
        return sock::SOCKET_ERROR;
    error = 0;
    return static_cast<int>(nTake);
}

void CTlsTransport::SayGoodbye() {
    if (!m_session.Ready() || m_session.Failed())
        return;
    m_session.Close();
    int error = 0;
    Drain(error);
}

std::int64_t CTlsTransport::Acknowledged() const {
    return m_session.PlainWithin(CTransport::Acknowledged());
}
