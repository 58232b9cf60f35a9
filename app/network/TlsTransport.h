// A connection with TLS over its socket: the handshake first, then the bridge's bytes in records.
// The records go on the wire from a buffer of this transport's own, so that the count of wire
// bytes the peer acknowledged maps back to the bridge's bytes exactly.
#pragma once

#include "app/network/TlsSession.h"
#include "app/network/Transport.h"

#include <memory>
#include <string>

// Sealed wire bytes that may wait here for the socket before the transport takes no more of the
// bridge's bytes; what does not fit waits in the caller's send backlog, unsealed.
inline constexpr std::size_t TLS_WIRE_ROOM = 64u << 10;

class CTlsTransport final : public CTransport {
public:
    CTlsTransport(sock::SOCKET s, std::shared_ptr<const CTlsConfig> config, std::string peer);

    Stage Handshake() override;
    using CTransport::Handshake;
    bool Ready() const override { return m_session.Ready(); }
    std::string Failure() const override;
    const TlsFailure& FailureFacts() const { return m_session.Failure(); }
    void HandshakeTimedOut() override { m_session.Fail(TlsFailure::Kind::timedOut); }
    TlsFacts Facts() const { return m_session.Facts(); }

    int Receive(char* pBuffer, int nSize, int& error) override;
    bool Holds() const override { return m_session.HoldsRecord(); }
    std::size_t WireWaiting() const override { return m_wire.size() - m_nHead; }
    std::int64_t Acknowledged() const override;
    int Put(const char* pData, int nLength, int& error) override;
    bool Drain(int& error) override;
    void SayGoodbye() override;

private:
    // Reads what the socket holds while the session wants it: false when the peer ended the
    // connection or the socket failed (error set; 0 for the end).
    bool Fill(int& error);
    void TakeWire();

    std::shared_ptr<const CTlsConfig> m_config; // kept for as long as the session lives
    CTlsSession m_session;
    std::string m_wire; // sealed bytes for the socket, from m_nHead on
    std::size_t m_nHead = 0;
    bool m_bEnded = false; // the peer ended the connection
};
