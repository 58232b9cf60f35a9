// The test rigs' halves for POSIX. This file: the far end of a serial line, a pty.
#include "support/DeviceEnd.h"

#include "support/PtyPair.h"

namespace testing_support {

struct DeviceEnd::Impl {
    PtyPair pty;
};

DeviceEnd::DeviceEnd() : impl_(std::make_unique<Impl>()) {}
DeviceEnd::~DeviceEnd() = default;

bool DeviceEnd::Ok() const {
    return impl_->pty.Ok();
}

std::string DeviceEnd::Problem() const {
    return impl_->pty.Ok() ? std::string() : "no pseudo-terminal";
}

std::string DeviceEnd::NameAs(const std::string& name) {
    NamePort(name, impl_->pty.SlavePath());
    return name;
}

bool DeviceEnd::Send(const std::string& bytes) {
    return impl_->pty.Send(bytes);
}

std::string DeviceEnd::Receive(std::size_t count, std::chrono::milliseconds within) {
    return impl_->pty.Receive(count, within);
}

void DeviceEnd::HangUp() {
    impl_->pty.HangUp();
}

} // namespace testing_support
