// The serial layer's simulated device under a port name, for the tests above that layer: it has
// what a pseudo-terminal lacks, the modem lines. While the object lives, a port of that name opens
// it. Linux only (posix/SimulatedDevice.cpp, in the library varnel_test_sim). No system headers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace testing_support {

class SimulatedDevice {
public:
    explicit SimulatedDevice(const std::string& name);
    ~SimulatedDevice();

    // The output lines as the port last drove them.
    bool Dtr() const;
    bool Rts() const;
    // The rate the port last set.
    std::uint32_t Baud() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace testing_support
