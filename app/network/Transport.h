// One connection as the bridge sees it: its socket, and what lies between the socket and the
// bridge's bytes. A plain socket passes them as they are; an encrypting transport turns them into
// records on the wire and back, and has a handshake to go through first. Nothing here waits: each
// call does what the socket allows now. The socket belongs to the caller, who closes it.
#pragma once

#include "app/bridge/SendBacklog.h"
#include "app/platform/Socket.h"

#include <cstdint>
#include <string>

// The base is the plain socket.
class CTransport : public CByteSink {
public:
    enum class Stage { handshake, ready, failed };

    explicit CTransport(sock::SOCKET s) : m_socket(s) {}
    sock::SOCKET Socket() const { return m_socket; }

    // Moves the handshake on as far as the socket allows. A plain socket is ready at once.
    virtual Stage Handshake() { return Stage::ready; }
    // Handshake(), then up to nRounds waits of nWaitUs microseconds for the peer's next bytes,
    // each followed by another step while the handshake goes on.
    Stage Handshake(long nWaitUs, int nRounds);
    // The handshake took longer than allowed: it ends as failed.
    virtual void HandshakeTimedOut() {}
    virtual bool Ready() const { return true; }
    // Why the handshake or the transport failed, for a tooltip; empty when it did not.
    virtual std::string Failure() const { return {}; }

    // As recv on a non-blocking socket: bytes for the bridge (more than 0), 0 when the peer ended
    // the connection, SOCKET_ERROR with error set otherwise (EWOULDBLOCK: none have come yet).
    virtual int Receive(char* pBuffer, int nSize, int& error);
    // Bytes for the bridge that this side holds already, which a look at the socket would not
    // show: they are there for the next Receive.
    virtual bool Holds() const { return false; }
    // Readable now, or (with a wait) within nWaitUs microseconds: there are bytes for the bridge,
    // or the end of the connection, to receive.
    bool Readable(long nWaitUs = 0) const;

    // The transport's own bytes that wait for the socket (none for a plain one).
    virtual std::size_t WireWaiting() const { return 0; }
    // The bridge's bytes that the peer has acknowledged since the connect; -1 when the system
    // cannot tell.
    virtual std::int64_t Acknowledged() const;

    // The connection is about to be closed in order: the transport says so to the peer, as far
    // as the socket takes it now.
    virtual void SayGoodbye() {}

    // CByteSink: as send on a non-blocking socket.
    int Put(const char* pData, int nLength, int& error) override;

private:
    sock::SOCKET m_socket;
};
