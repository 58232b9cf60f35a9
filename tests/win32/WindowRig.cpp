// The window tests' rig under Wine: the device is the far end of the pseudo-terminal that the
// relay links into the prefix as COM3, the server a Winsock one on 127.0.0.1.
#include "app/WindowRig.h"

#include "win32/WinSupport.h"

namespace window_rig {

struct Device::Impl {
    win_support::RelayDevice relay;
};

Device::Device() : impl_(std::make_unique<Impl>()) {}
Device::~Device() = default;
bool Device::Ok() const {
    return impl_->relay.Ok();
}
std::string Device::Problem() const {
    return impl_->relay.Problem();
}
bool Device::Send(const std::string& bytes) {
    return impl_->relay.Send(bytes);
}
std::string Device::Receive(std::size_t count, std::chrono::milliseconds within) {
    return impl_->relay.Receive(count, within);
}
void Device::NameAsCom3() {} // the relay's link is COM3 in the prefix

struct Server::Impl {
    win_support::LoopbackServer server;
};

Server::Server() : impl_(std::make_unique<Impl>()) {}
Server::~Server() = default;
bool Server::Listening() const {
    return impl_->server.Port() != 0;
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
