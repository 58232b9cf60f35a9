// CSerial on Windows' own communications API, under Wine, against a real pseudo-terminal that the
// relay (PtyRelay.cpp) links into the Wine prefix as a COM port and whose far end it serves.
//
// Wine on a pseudo-terminal is not Windows on a UART. Where it cannot do what Windows does, the
// test's name starts with "WineOnAPty" and says what; it checks what still holds there.
#include "serial/SerialLine.h"

#include <gtest/gtest.h>

#include <string>

// The scenarios both platforms run (tests/serial/SerialLineTest.cpp) under Wine: a read cancelled
// in the middle of a burst may not have taken the bytes yet.
const serial_line::Allowances serial_line::kAllowances{
    .cancelledReadMayLeaveBytesQueued = true,
};

namespace {

using namespace std::chrono_literals;
using testing_support::WaitUntil;

constexpr CSerial::LONG kTimeout = 1460; // ERROR_TIMEOUT: the caller's own wait ran out

// The port on the relay's line, as the shared scenarios have it.
class SerialWineTest : public serial_line::SerialLineTest {};

TEST_F(SerialWineTest, OpenSetupAndLineSettingsReadBack) {
    EXPECT_EQ(serial_.GetBaudrate(), CSerial::baud115200);
    EXPECT_EQ(serial_.GetDataBits(), CSerial::data8);
    EXPECT_EQ(serial_.GetParity(), CSerial::parityNone);
    EXPECT_EQ(serial_.GetStopBits(), CSerial::stopOne);
    EXPECT_EQ(serial_.GetHandshaking(), CSerial::handshakeOff);
    for (CSerial::Baudrate rate : {CSerial::baud300, CSerial::baud9600, CSerial::baud57600}) {
        ASSERT_EQ(serial_.Setup(rate, CSerial::data8, CSerial::parityNone, CSerial::stopTwo), 0);
        EXPECT_EQ(serial_.GetBaudrate(), rate);
        EXPECT_EQ(serial_.GetStopBits(), CSerial::stopTwo);
    }
    ASSERT_EQ(serial_.SetupHandshaking(CSerial::handshakeSoftware), 0);
    EXPECT_EQ(serial_.GetHandshaking(), CSerial::handshakeSoftware);

    // A port that is not there, and a name that cannot be one.
    CSerial other;
    EXPECT_EQ(other.Open("COM97", 0, 0), 2);
    EXPECT_EQ(CSerial::ProbePort("COM97"), CSerial::portNotFound);
    EXPECT_EQ(other.Open("CO/M1", 0, 0), 2);
    EXPECT_EQ(serial_.Open(portName_.c_str(), 0, 0), 1247) << "opened twice";
}

TEST_F(SerialWineTest, WineOnAPty_NoExclusiveOpen) {
    // Windows refuses a second open of an open port with 5 (in use); Wine on a pseudo-terminal
    // lets it through. What holds: either way the first holder keeps its port and its bytes.
    CSerial second;
    const CSerial::LONG rc = second.Open(portName_.c_str(), 0, 0);
    EXPECT_TRUE(rc == 5 || rc == 0) << rc;
    RecordProperty("second_open", static_cast<int>(rc));
    second.Close();
    ASSERT_TRUE(device_.Send("mine"));
    EXPECT_EQ(ReadAvailable(4), "mine");
}

TEST_F(SerialWineTest, WineOnAPty_UnusualRatesHardwareHandshakingAndSevenBitsAreNotHeld) {
    // Windows keeps what the driver accepted; a pseudo-terminal under Wine takes these calls but
    // forces its own values: rates outside the standard list read back as 38400, hardware
    // handshaking as off, 7 data bits with even parity as 8 without. The calls still succeed and
    // the port still carries bytes afterwards.
    EXPECT_EQ(
        serial_.Setup(CSerial::baud256000, CSerial::data7, CSerial::parityEven, CSerial::stopOne),
        0);
    RecordProperty("baud_read_back", static_cast<int>(serial_.GetBaudrate()));
    RecordProperty("data_bits_read_back", static_cast<int>(serial_.GetDataBits()));
    EXPECT_EQ(serial_.SetupHandshaking(CSerial::handshakeHardware), 0);
    RecordProperty("handshaking_read_back", static_cast<int>(serial_.GetHandshaking()));
    ASSERT_EQ(
        serial_.Setup(CSerial::baud115200, CSerial::data8, CSerial::parityNone, CSerial::stopOne),
        0);
    ASSERT_EQ(serial_.SetupHandshaking(CSerial::handshakeOff), 0);
    ASSERT_TRUE(device_.Send("still"));
    EXPECT_EQ(ReadAvailable(5), "still");
}

TEST_F(SerialWineTest, WineOnAPty_NoModemLinesAndEventWaitsEndAtOnce) {
    // Windows reports CTS, DSR, RING and RLSD and lets an event wait on an idle port time out.
    // A pseudo-terminal has no modem lines (GetCommModemStatus fails with 50, so each line reads
    // as off), and Wine ends a wait on an idle port at once with no event bits. What holds: the
    // lines read as off without harm, and a wait with bytes queued reports EV_RXCHAR.
    EXPECT_FALSE(serial_.GetCTS());
    EXPECT_FALSE(serial_.GetDSR());
    EXPECT_FALSE(serial_.GetRing());
    EXPECT_FALSE(serial_.GetRLSD());
    EXPECT_EQ(serial_.GetLastError(), 50);

    ASSERT_EQ(serial_.SetMask(CSerial::eventRxChar), 0);
    const CSerial::LONG idle = serial_.WaitEvent(nullptr, 200);
    EXPECT_TRUE(idle == 0 || idle == kTimeout) << idle;
    RecordProperty("idle_wait_result", static_cast<int>(idle));
    serial_.TakeLastEvents();
    ASSERT_TRUE(device_.Send("x"));
    ASSERT_TRUE(WaitUntil([&] { return serial_.GetInQueueCount() == 1; }, 5s));
    ASSERT_EQ(serial_.WaitEvent(nullptr, 2000), 0);
    EXPECT_EQ(serial_.TakeLastEvents() & CSerial::eventRxChar, CSerial::eventRxChar);
}

TEST_F(SerialWineTest, WineOnAPty_DeviceGoingAwayFailsLaterCallsWithWinesCodes) {
    // Bytes read before the hang-up arrive whole. Then the terminal is gone: Windows reports a
    // removed USB adapter as 1617 or 995 on the pending call and 5 or 22 after it; Wine on a
    // pseudo-terminal gives 21 on status and writes and 109 on reads. What holds: every later
    // call fails, none blocks, and the port closes cleanly.
    ASSERT_TRUE(device_.Send("last words"));
    EXPECT_EQ(ReadAvailable(10), "last words");
    device_.HangUp();
    CSerial::LONG read = 0;
    ASSERT_TRUE(WaitUntil(
        [&] {
            char buf[8];
            CSerial::DWORD n = 0;
            read = serial_.Read(buf, sizeof buf, &n, nullptr, 100);
            return read != 0 && read != kTimeout;
        },
        5s));
    RecordProperty("read_after_hang_up", static_cast<int>(read));
    CSerial::DWORD written = 0;
    EXPECT_NE(serial_.Write("x", &written, nullptr, 1000), 0);
    EXPECT_EQ(serial_.Close(), 0);
}

} // namespace
