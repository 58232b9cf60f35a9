// What lies between a client's socket and the bridge. The client set reads and writes the socket
// itself (each client's send backlog holds wire bytes, so that a slow client is bounded whatever
// lies above); the transport turns wire bytes into the bridge's bytes and back. A plain socket
// passes them as they are; an encrypting transport fits the same two calls.
#pragma once

#include <string_view>

class CTransport {
public:
    virtual ~CTransport() = default;

    // Bytes read off the wire, in order. Sets data to the bytes they carry for the bridge, valid
    // until the next call and never longer than wire (empty when they carry none yet). False when
    // the peer broke the transport's rules; the client is then closed.
    virtual bool FromWire(std::string_view wire, std::string_view& data) = 0;
    // Bytes for the client: the bytes to put on the wire for them, valid until the next call.
    virtual std::string_view ToWire(std::string_view data) = 0;
};

// The bytes as they are.
class CPlainTransport final : public CTransport {
public:
    bool FromWire(std::string_view wire, std::string_view& data) override {
        data = wire;
        return true;
    }
    std::string_view ToWire(std::string_view data) override { return data; }
};
