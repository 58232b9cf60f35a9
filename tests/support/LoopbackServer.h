// A TCP server on 127.0.0.1 for tests: accepts one client at a time and lets the test send,
// receive, close or reset. Every wait has a deadline. No system headers here, so tests that also
// use the bridge's socket layer can include it. On POSIX sockets (LoopbackServer.cpp) and on
// Winsock (win32/LoopbackServer.cpp).
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace testing_support {

class LoopbackServer {
public:
    // Listens on 127.0.0.1:port; port 0 picks a free one.
    explicit LoopbackServer(std::uint16_t port = 0);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    std::uint16_t Port() const { return port_; }
    bool Listening() const { return listener_ >= 0; }

    // Waits for the next client; false when none came in time. An earlier client is closed.
    bool Accept(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    bool HasClient() const { return client_ >= 0; }
    // Number of connections accepted so far.
    int Accepted() const { return accepted_; }

    // Sends all bytes to the client (blocking); false on error.
    bool Send(const std::string& bytes);
    // Reads until `count` bytes arrived or the deadline passed; returns what arrived.
    std::string Receive(std::size_t count,
                        std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // Reads whatever arrives until the client closes or the quiet time passes without data.
    std::string Drain(std::chrono::milliseconds quiet = std::chrono::milliseconds(300));
    // True when the client closed its end (reads give end of stream) within the timeout.
    bool WaitClientClosed(std::chrono::milliseconds timeout = std::chrono::seconds(5));

    // Orderly close of the client connection.
    void CloseClient();
    // Abortive close: the client sees a reset.
    void ResetClient();
    // Stops listening; later connects are refused.
    void StopListening();
    // The client's receive buffer size, to make a server that never reads fill up quickly.
    void ShrinkClientReceiveBuffer();

private:
    // The sockets, -1 when there is none.
    std::intptr_t listener_ = -1;
    std::intptr_t client_ = -1;
    std::uint16_t port_ = 0;
    int accepted_ = 0;
};

} // namespace testing_support
