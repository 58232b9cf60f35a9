#include "app/WindowRig.h"

#include "app/VarnelDlg.h"
#include "app/platform/Profile.h"
#include "support/LoopbackServer.h"
#include "support/PtyPair.h"

namespace window_rig {

struct Device::Impl {
    testing_support::PtyPair pty;
};

Device::Device() : impl_(std::make_unique<Impl>()) {}
Device::~Device() = default;
bool Device::Ok() const {
    return impl_->pty.Ok();
}
std::string Device::Problem() const {
    return "no pseudo-terminal";
}
bool Device::Send(const std::string& bytes) {
    return impl_->pty.Send(bytes);
}
std::string Device::Receive(std::size_t count, std::chrono::milliseconds within) {
    return impl_->pty.Receive(count, within);
}
void Device::NameAsCom3() {
    WritePrivateProfileStringA("Ports", "COM3", impl_->pty.SlavePath().c_str(), SETTINGS_FILE);
}

struct Server::Impl {
    testing_support::LoopbackServer server;
};

Server::Server() : impl_(std::make_unique<Impl>()) {}
Server::~Server() = default;
bool Server::Listening() const {
    return impl_->server.Listening();
}
std::uint16_t Server::Port() const {
    return impl_->server.Port();
}
bool Server::Accept(std::chrono::milliseconds within) {
    return impl_->server.Accept(within);
}
bool Server::Send(const std::string& bytes) {
    return impl_->server.Send(bytes);
}
std::string Server::Receive(std::size_t count, std::chrono::milliseconds within) {
    return impl_->server.Receive(count, within);
}

} // namespace window_rig
