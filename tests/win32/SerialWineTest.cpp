// CSerial on Windows' own communications API, under Wine, against a real pseudo-terminal that the
// relay (PtyRelay.cpp) links into the Wine prefix as a COM port and whose far end it serves.
//
// Wine on a pseudo-terminal is not Windows on a UART. Where it cannot do what Windows does, the
// test's name starts with "WineOnAPty" and says what; it checks what still holds there.
#include "WinSupport.h"

#include "serial/Serial.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace std::chrono_literals;
using win_support::RelayDevice;
using win_support::WaitUntil;

constexpr CSerial::LONG kTimeout = 1460; // ERROR_TIMEOUT: the caller's own wait ran out

// The port's handle, for the caller's own overlapped records.
class TestSerial : public CSerial {
public:
    HANDLE Handle() const { return m_hPort; }
};

class SerialWineTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(device_.Ok()) << device_.Problem();
        ASSERT_EQ(serial_.Open(RelayDevice::PortName().c_str(), 4096, 4096), 0)
            << RelayDevice::PortName();
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
        WaitUntil(
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

    RelayDevice device_;
    TestSerial serial_;
};

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
    EXPECT_EQ(serial_.Open(RelayDevice::PortName().c_str(), 0, 0), 1247) << "opened twice";
}

TEST_F(SerialWineTest, WineOnAPty_NoExclusiveOpen) {
    // Windows refuses a second open of an open port with 5 (in use); Wine on a pseudo-terminal
    // lets it through. What holds: either way the first holder keeps its port and its bytes.
    CSerial second;
    const CSerial::LONG rc = second.Open(RelayDevice::PortName().c_str(), 0, 0);
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

TEST_F(SerialWineTest, EveryByteValueBothWaysNothingLost) {
    const std::string in = EveryByteValue(6000);
    ASSERT_TRUE(device_.Send(in));
    EXPECT_EQ(ReadAvailable(in.size(), 10s), in);

    const std::string out = EveryByteValue(5000).substr(7);
    CSerial::DWORD written = 0;
    ASSERT_EQ(
        serial_.Write(out.data(), static_cast<CSerial::DWORD>(out.size()), &written, nullptr, 5000),
        0);
    EXPECT_EQ(written, out.size());
    EXPECT_EQ(device_.Receive(out.size(), 10s), out);
}

TEST_F(SerialWineTest, OverlappedReadPendsUntilTheDeviceSends) {
    comm::OVERLAPPED ov{};
    ov.hEvent = comm::CreateEventA(nullptr, comm::TRUE, comm::FALSE, nullptr);
    ASSERT_NE(ov.hEvent, nullptr);
    char buf[5] = {};
    CSerial::DWORD n = 0;
    // With the caller's record, a read that has to wait returns at once; its event tells the end.
    ASSERT_EQ(serial_.Read(buf, sizeof buf, &n, &ov, 0), 0);
    EXPECT_EQ(comm::WaitForSingleObject(ov.hEvent, 100), comm::WAIT_TIMEOUT);
    ASSERT_TRUE(device_.Send("hello"));
    ASSERT_EQ(comm::WaitForSingleObject(ov.hEvent, 5000), comm::WAIT_OBJECT_0);
    ASSERT_TRUE(comm::GetOverlappedResult(serial_.Handle(), &ov, &n, comm::FALSE));
    EXPECT_EQ(n, 5u);
    EXPECT_EQ(std::string(buf, n), "hello");

    // An overlapped write completes and the device gets it.
    comm::ResetEvent(ov.hEvent);
    CSerial::DWORD written = 0;
    ASSERT_EQ(serial_.Write("world", &written, &ov, 0), 0);
    ASSERT_EQ(comm::WaitForSingleObject(ov.hEvent, 5000), comm::WAIT_OBJECT_0);
    EXPECT_EQ(device_.Receive(5), "world");

    // With a gap, a read ends once the device has been quiet that long: it takes one burst.
    ASSERT_EQ(serial_.SetupReadGap(20), 0);
    char burst[64] = {};
    ASSERT_EQ(serial_.Read(burst, sizeof burst, &n, &ov, 0), 0);
    EXPECT_EQ(comm::WaitForSingleObject(ov.hEvent, 100), comm::WAIT_TIMEOUT);
    ASSERT_TRUE(device_.Send("one burst"));
    ASSERT_EQ(comm::WaitForSingleObject(ov.hEvent, 5000), comm::WAIT_OBJECT_0);
    EXPECT_EQ(serial_.FinishTransfer(&ov, &n, false), 0);
    EXPECT_EQ(std::string(burst, n), "one burst");

    // Cancelled in the middle of a burst, it hands over what it took; Wine may not have taken
    // anything yet, and then the bytes are still queued. Either way none is lost.
    ASSERT_EQ(serial_.SetupReadGap(60000), 0);
    ASSERT_TRUE(device_.Send("half"));
    ASSERT_TRUE(WaitUntil([&] { return serial_.GetInQueueCount() == 4; }, 5s));
    ASSERT_EQ(serial_.Read(burst, sizeof burst, &n, &ov, 0), 0);
    EXPECT_EQ(serial_.FinishTransfer(&ov, &n, true), comm::ERROR_OPERATION_ABORTED);
    std::string taken(burst, n);
    const CSerial::DWORD queued = serial_.GetInQueueCount();
    ASSERT_EQ(serial_.Read(burst, queued, &n, nullptr, 1000), 0);
    taken.append(burst, n);
    EXPECT_EQ(taken, "half");
    comm::CloseHandle(ov.hEvent);
}

TEST_F(SerialWineTest, PurgesDropWhatWaitedAndKeepWhatCameAfter) {
    // Both queues: what the port received before the purge is gone, what comes after arrives.
    ASSERT_TRUE(device_.Send("old"));
    ASSERT_TRUE(WaitUntil([&] { return serial_.GetInQueueCount() == 3; }, 5s));
    ASSERT_EQ(serial_.Purge(), 0);
    EXPECT_EQ(serial_.GetInQueueCount(), 0u);
    ASSERT_TRUE(device_.Send("new"));
    EXPECT_EQ(ReadAvailable(3), "new");

    // The output queue alone: received bytes stay to be read.
    ASSERT_TRUE(device_.Send("keep"));
    ASSERT_TRUE(WaitUntil([&] { return serial_.GetInQueueCount() == 4; }, 5s));
    ASSERT_EQ(serial_.PurgeOutput(), 0);
    EXPECT_EQ(ReadAvailable(4), "keep");
    EXPECT_EQ(serial_.GetOutQueueCount(), 0u);
}

TEST_F(SerialWineTest, ReadTimeOutKeepsTheShortCount) {
    ASSERT_TRUE(device_.Send("abcd"));
    char buf[10] = {};
    CSerial::DWORD n = 0;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(serial_.Read(buf, sizeof buf, &n, nullptr, 300), kTimeout);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 250ms);
    EXPECT_EQ(n, 4u);
    EXPECT_EQ(std::string(buf, n), "abcd");
    // The port stays usable after the cancelled read.
    ASSERT_TRUE(device_.Send("ef"));
    EXPECT_EQ(ReadAvailable(2), "ef");
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
