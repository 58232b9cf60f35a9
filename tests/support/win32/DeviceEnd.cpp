// The test rigs' halves for Windows under Wine. This file: the far end of a serial line, the
// relay's pty.
#include "support/DeviceEnd.h"

#include "support/WaitUntil.h"
#include "support/win32/Winsock.h"

#include <cstdlib>
#include <fstream>

namespace testing_support {

using namespace winsock;
using namespace std::chrono_literals;

struct DeviceEnd::Impl {
    std::intptr_t socket = kNone;
    bool ok = false;
    std::string problem;
};

namespace {

// The name the relay links the terminal under; CTest gives it to both.
std::string RelayPortName() {
    const char* name = std::getenv("VARNEL_RELAY_COM");
    return name ? name : "COM9";
}

} // namespace

// Asks the relay for a fresh pseudo-terminal under the port name and waits until it is there.
DeviceEnd::DeviceEnd() : impl_(std::make_unique<Impl>()) {
    Start();
    const char* portFile = std::getenv("VARNEL_RELAY_PORT_FILE");
    if (!portFile) {
        impl_->problem = "VARNEL_RELAY_PORT_FILE is not set: CTest starts the relay (PtyRelay.cpp)";
        return;
    }
    unsigned port = 0;
    // The relay writes the file once it listens; its start is a test of its own that ran before.
    WaitUntil([&] { return bool(std::ifstream(portFile) >> port); }, 5s);
    if (port == 0 || port > 65535) {
        impl_->problem = std::string("no relay port in ") + portFile;
        return;
    }
    impl_->socket = ConnectLoopback(static_cast<std::uint16_t>(port));
    if (impl_->socket == kNone) {
        impl_->problem = "the relay did not take the connection";
        return;
    }
    impl_->ok = ReceiveSome(impl_->socket, 1, Clock::now() + 5s) == "R";
    if (!impl_->ok)
        impl_->problem = "the relay did not link a terminal as " + RelayPortName();
}

DeviceEnd::~DeviceEnd() {
    if (impl_->socket != kNone)
        ::closesocket(S(impl_->socket));
}

bool DeviceEnd::Ok() const {
    return impl_->ok;
}

std::string DeviceEnd::Problem() const {
    return impl_->problem;
}

std::string DeviceEnd::NameAs(const std::string&) {
    return RelayPortName();
}

bool DeviceEnd::Send(const std::string& bytes) {
    return impl_->socket != kNone && SendAll(impl_->socket, bytes);
}

std::string DeviceEnd::Receive(std::size_t count, std::chrono::milliseconds within) {
    return impl_->socket == kNone ? std::string()
                                  : ReceiveSome(impl_->socket, count, Clock::now() + within);
}

void DeviceEnd::HangUp() {
    if (impl_->socket != kNone)
        ::shutdown(S(impl_->socket), SD_SEND);
}

} // namespace testing_support
