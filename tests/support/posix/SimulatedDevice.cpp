#include "support/SimulatedDevice.h"

#include "serial/comm/linux/SimDevice.h"

namespace testing_support {

struct SimulatedDevice::Impl {
    explicit Impl(const std::string& name) : sim(name) {}
    comm::SimDevice sim;
};

SimulatedDevice::SimulatedDevice(const std::string& name) : impl_(std::make_unique<Impl>(name)) {}
SimulatedDevice::~SimulatedDevice() = default;

bool SimulatedDevice::Dtr() const {
    return (impl_->sim.OutputLines() & comm::kLineDtr) != 0;
}

bool SimulatedDevice::Rts() const {
    return (impl_->sim.OutputLines() & comm::kLineRts) != 0;
}

std::uint32_t SimulatedDevice::Baud() const {
    return impl_->sim.Line().baud;
}

} // namespace testing_support
