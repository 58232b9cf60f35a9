// The main window's tests' fixture, on every backend: the bridge's window rig with the device's
// end as the platform has it, and the settings file read back through the profile functions.
#pragma once

#include "support/BridgeWindow.h"
#include "support/DeviceEnd.h"

#include <chrono>
#include <cstdint>
#include <fstream>
#include <string>

namespace window_test {

inline constexpr const char* kFile = "VarnelConfig.ini";

inline std::string Profile(const char* section, const char* key) {
    std::string buf(2 << 20, '\0');
    const auto n = GetPrivateProfileStringA(section, key, "<none>", buf.data(),
                                            static_cast<std::uint32_t>(buf.size()), kFile);
    buf.resize(n);
    return buf;
}

class WindowTest : public testing_support::BridgeRig<testing_support::DeviceEnd> {
protected:
    void SetUp() override {
        BridgeRig::SetUp();
        // Under Wine the device's end is a socket to the relay.
        receiveStep = std::chrono::milliseconds(5);
    }
    void Write(const std::string& content) { std::ofstream(kFile, std::ios::binary) << content; }
    // The device as COM3, the server's port in the settings, the window open and linked.
    void StartLinked(bool fast) {
        ASSERT_NO_FATAL_FAILURE(NameLink());
        Set("SYSTEM", "FAST", fast ? "1" : "0");
        Set("SYSTEM", "HEX", "0");
        BridgeRig::StartLinked();
    }
};

} // namespace window_test
