// The serial port object against a real line whose far end the test plays (support/DeviceEnd.h):
// the fixture of the scenarios that both platforms run (SerialLineTest.cpp), in the Linux suite
// on a pseudo-terminal and in the Windows suite under Wine on the relay's.
#pragma once

#include "serial/Serial.h"
#include "support/DeviceEnd.h"
#include "support/TempWorkDir.h"
#include "support/WaitUntil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace serial_line {

using namespace std::chrono_literals;

// Where a platform's line does not do what the system's own does on a UART. Each suite defines
// them for its platform; a scenario consults them and checks what still holds there.
struct Allowances {
    // A read cancelled in the middle of a burst may not have taken the bytes yet (Wine on a
    // pseudo-terminal): they are then still queued, and none is lost.
    bool cancelledReadMayLeaveBytesQueued;
};
extern const Allowances kAllowances;

// The port's handle, for the caller's own overlapped records.
class TestSerial : public CSerial {
public:
    HANDLE Handle() const { return m_hPort; }
};

// The port opened on the device's line at 115200 8N1, no handshaking, reads blocking.
class SerialLineTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(device_.Ok()) << device_.Problem();
        ASSERT_EQ(serial_.Open(portName_.c_str(), 4096, 4096), 0) << portName_;
        ASSERT_EQ(serial_.Setup(CSerial::baud115200, CSerial::data8, CSerial::parityNone,
                                CSerial::stopOne),
                  0);
        ASSERT_EQ(serial_.SetupHandshaking(CSerial::handshakeOff), 0);
        ASSERT_EQ(serial_.SetupReadTimeouts(CSerial::readBlocking), 0);
    }
    void TearDown() override { serial_.Close(); }

    // Reads until `count` bytes came or the time is up, as the bridge does: what is queued now.
    std::string ReadAvailable(std::size_t count, std::chrono::milliseconds within = 5s) {
        std::string got;
        testing_support::WaitUntil(
            [&] {
                const CSerial::DWORD queued = serial_.GetInQueueCount();
                if (queued > 0) {
                    std::string buf(queued, '\0');
                    CSerial::DWORD n = 0;
                    serial_.Read(buf.data(), queued, &n, nullptr, 1000);
                    got.append(buf.data(), n);
                }
                return got.size() >= count;
            },
            within);
        return got;
    }

    static std::string EveryByteValue(std::size_t size) {
        std::string bytes(size, '\0');
        for (std::size_t i = 0; i < size; ++i)
            bytes[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
        return bytes;
    }

    testing_support::TempWorkDir dir_;
    testing_support::DeviceEnd device_;
    const std::string portName_ = device_.NameAs("COM9");
    TestSerial serial_;
};

} // namespace serial_line
