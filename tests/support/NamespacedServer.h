// A TCP server in a network namespace that the test makes, reached from here over a veth pair
// (10.213.0.1/30 on this side, 10.213.0.2/30 inside), or a client there of a server here; the
// test can cut the path without a word to either end: the far end of the pair goes down, and what
// is sent is lost on the way. No system headers here, so tests that use the bridge's socket layer
// can include it. Needs root.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace testing_support {

class NamespacedServer {
public:
    static constexpr const char* kAddress = "10.213.0.2";
    // This side's end of the pair, as the namespace sees it.
    static constexpr const char* kNearAddress = "10.213.0.1";

    // Makes the namespace and the pair and listens inside. One such rig at a time on the host
    // (the addresses are fixed): a second one, in another process, waits for the first.
    NamespacedServer();
    // Removes the namespace and the pair, whatever state they are in.
    ~NamespacedServer();
    NamespacedServer(const NamespacedServer&) = delete;
    NamespacedServer& operator=(const NamespacedServer&) = delete;

    // Empty when the rig is up, else what failed.
    const std::string& Problem() const { return problem_; }
    std::uint16_t Port() const { return port_; }

    // Takes the next connection, in place of the one before.
    bool Accept(std::chrono::milliseconds timeout);
    // Connects from inside to kNearAddress:port, as a client over there does, in place of the
    // connection before; Take() and CloseClient() then act on this one.
    bool Connect(std::uint16_t port);
    // Closes the connection it took, as a server that ends it does.
    void CloseClient();
    // What the client sent and the server has not read yet, without waiting.
    std::string Take();
    // Sets the far end of the pair down: from now on nothing passes, and nobody is told.
    bool CutPath();
    // Sets it up again: what is sent from now on passes.
    bool RestorePath();

private:
    bool Run(const std::string& command);

    std::string name_;  // of the namespace
    std::string here_;  // the pair's end in this namespace
    std::string there_; // the end inside
    int lock_ = -1;
    int listener_ = -1;
    int client_ = -1;
    std::uint16_t port_ = 0;
    std::string problem_;
};

} // namespace testing_support
