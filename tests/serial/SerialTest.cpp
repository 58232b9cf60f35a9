#include "serial/Serial.h"
#include "SerialLine.h"
#include "serial/Report.h"
#include "serial/comm/Faults.h"
#include "serial/comm/linux/SimDevice.h"
#include "support/Emulated.h"
#include "support/PtyPair.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;
using testing_support::kEmulated;
using testing_support::NamedPty;
using testing_support::PtyPair;
using testing_support::WaitUntil;

namespace c = comm;

// The scenarios both platforms run (SerialLineTest.cpp) on a pseudo-terminal: a cancelled read
// hands over what it took.
const serial_line::Allowances serial_line::kAllowances{
    .cancelledReadMayLeaveBytesQueued = false,
};

namespace {

// Opens the object's members to the tests.
class Probe : public CSerial {
public:
    using CSerial::m_dwLastEvents;
    using CSerial::m_hevtOverlappedRead;
    using CSerial::m_hevtOverlappedWait;
    using CSerial::m_hevtOverlappedWrite;
    using CSerial::m_hPort;
    bool EventsNull() const {
        return !m_hevtOverlappedRead && !m_hevtOverlappedWrite && !m_hevtOverlappedWait;
    }
};

class Traces {
public:
    Traces() {
        diag::SetSink([this](const diag::Report& r) {
            std::lock_guard lock(mutex_);
            texts_.push_back(r.text);
        });
    }
    ~Traces() { diag::SetSink({}); }
    std::vector<std::string> Take() {
        std::lock_guard lock(mutex_);
        return std::exchange(texts_, {});
    }
    bool Saw(const std::string& text) {
        auto all = Take();
        return std::find(all.begin(), all.end(), text) != all.end();
    }

private:
    std::mutex mutex_;
    std::vector<std::string> texts_;
};

class SerialTest : public ::testing::Test {
protected:
    void TearDown() override { c::ClearFaults(); }
    void OpenSim() { ASSERT_EQ(port.Open("SIM2", 2048, 2048), 0); }
    void OpenPty() { ASSERT_EQ(port.Open("COM9", 2048, 2048), 0); }

    NamedPty com9{"COM9"};
    PtyPair& pty = com9.pty;
    c::SimDevice sim{"SIM2"};
    Traces traces;
    Probe port;
};

TEST_F(SerialTest, OpenAppliesTheDefaults) {
    EXPECT_EQ(port.TakeLastEvents(), CSerial::eventUnknown);
    OpenSim();
    EXPECT_EQ(port.GetBaudrate(), CSerial::baud9600);
    EXPECT_EQ(port.GetDataBits(), CSerial::data8);
    EXPECT_EQ(port.GetParity(), CSerial::parityNone);
    EXPECT_EQ(port.GetStopBits(), CSerial::stopOne);
    EXPECT_EQ(port.GetHandshaking(), CSerial::handshakeOff);
    EXPECT_EQ(port.GetEventMask(), 0xC1u);
    c::COMMTIMEOUTS t{};
    ASSERT_TRUE(c::GetCommTimeouts(port.m_hPort, &t));
    EXPECT_EQ(t.ReadIntervalTimeout, c::MAXDWORD);
    EXPECT_EQ(sim.OutputLines(), c::kLineDtr | c::kLineRts);
    EXPECT_TRUE(traces.Take().empty());
}

TEST_F(SerialTest, OpenAndCloseLifecycle) {
    EXPECT_EQ(port.Close(), 0);
    EXPECT_TRUE(traces.Saw("CSerial::Close - Method called when device is not open\n"));
    EXPECT_EQ(port.Open("ttyNoSuchPort", 2048, 2048), 2);
    EXPECT_TRUE(traces.Saw("CSerial::Open - Unable to open port\n"));
    EXPECT_EQ(port.m_hPort, nullptr);
    // A probe leaves the line settings as it found them.
    const int slave = open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios before{}, after{};
    ASSERT_EQ(tcgetattr(slave, &before), 0);
    EXPECT_EQ(CSerial::ProbePort("COM9"), CSerial::portAvailable);
    ASSERT_EQ(tcgetattr(slave, &after), 0);
    close(slave);
    EXPECT_TRUE(before.c_iflag == after.c_iflag && before.c_oflag == after.c_oflag &&
                before.c_cflag == after.c_cflag && before.c_lflag == after.c_lflag &&
                std::memcmp(before.c_cc, after.c_cc, sizeof before.c_cc) == 0);

    OpenPty();
    EXPECT_EQ(port.Open("SIM2", 2048, 2048), comm::ERROR_ALREADY_INITIALIZED);
    EXPECT_TRUE(traces.Saw("CSerial::Open - Port already opened\n"));
    EXPECT_EQ(port.Write("ok", nullptr, nullptr, 1000), 0); // the first port is still usable
    EXPECT_EQ(pty.Receive(2, 2s), "ok");

    Probe other;
    EXPECT_EQ(other.Open("com9", 2048, 2048), 5);
    EXPECT_EQ(port.ProbePort("COM9"), CSerial::portInUse);
    EXPECT_EQ(CSerial::ProbePort("ttyNoSuchPort"), CSerial::portNotFound);
    EXPECT_EQ(port.GetLastError(), 0); // the probe leaves the last error alone
    EXPECT_EQ(other.Open("SIM2", 2048, 2048), 0);

    c::HANDLE handle = port.m_hPort;
    EXPECT_EQ(port.Close(), 0);
    EXPECT_TRUE(port.EventsNull());
    EXPECT_FALSE(c::CloseHandle(handle)); // already released
}

TEST_F(SerialTest, OpenFailurePaths) {
    struct Case {
        c::Call call;
        unsigned skip;
        CSerial::LONG result;
        bool open;
        const char* trace;
    } cases[] = {
        {c::Call::CreateFileA, 0, 5, false, "CSerial::Open - Unable to open port\n"},
        {c::Call::CreateEventA, 0, 8, false, "CSerial::Open - Unable to create event\n"},
        {c::Call::CreateEventA, 2, 8, false, "CSerial::Open - Unable to create event\n"},
        {c::Call::SetupComm, 0, 87, false, "CSerial::Open - Unable to setup the COM-port\n"},
        // An early default step fails: traced, but only the last step decides the result.
        {c::Call::SetCommMask, 0, 0, true, "CSerial::SetMask - Unable to set event mask\n"},
        {c::Call::SetCommState, 1, 31, true,
         "CSerial::SetupHandshaking - Unable to set DCB information\n"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(static_cast<int>(k.call));
        c::FailCall(k.call, k.result == 0 ? 31 : static_cast<c::DWORD>(k.result), 1, k.skip);
        EXPECT_EQ(port.Open("SIM2", 2048, 2048), k.result);
        EXPECT_EQ(port.m_hPort != nullptr, k.open);
        EXPECT_EQ(port.EventsNull(), !k.open);
        EXPECT_TRUE(traces.Saw(k.trace));
        port.Close();
        c::ClearFaults();
        EXPECT_EQ(port.Open("SIM2", 2048, 2048), 0); // nothing was left behind
        port.Close();
    }
}

TEST_F(SerialTest, EveryOperationOnAClosedObjectRecordsInvalidHandle) {
    struct Case {
        const char* trace; // null: no trace
        std::function<long long()> call;
        long long result;
    } cases[] = {
        {"CSerial::Setup - Device is not opened\n",
         [&] {
             return port.Setup(CSerial::baud9600, CSerial::data8, CSerial::parityNone,
                               CSerial::stopOne);
         },
         6},
        {"CSerial::SetEventChar - Device is not opened\n",
         [&] { return port.SetEventChar('x', true); }, 6},
        {"CSerial::SetMask - Device is not opened\n", [&] { return port.SetMask(1); }, 6},
        {"CSerial::WaitEvent - Device is not opened\n", [&] { return port.WaitEvent(nullptr, 0); },
         6},
        {"CSerial::SetupHandshaking - Device is not opened\n",
         [&] { return port.SetupHandshaking(CSerial::Handshaking(3)); }, 6},
        {"CSerial::SetupReadTimeouts - Device is not opened\n",
         [&] { return port.SetupReadTimeouts(CSerial::readBlocking); }, 6},
        {"CSerial::SetupReadGap - Device is not opened\n", [&] { return port.SetupReadGap(5); }, 6},
        {"CSerial::GetBaudrate - Device is not opened\n", [&] { return port.GetBaudrate(); }, -1},
        {"CSerial::GetDataBits - Device is not opened\n", [&] { return port.GetDataBits(); }, -1},
        {"CSerial::GetParity - Device is not opened\n", [&] { return port.GetParity(); }, -1},
        {"CSerial::GetStopBits - Device is not opened\n", [&] { return port.GetStopBits(); }, -1},
        {"CSerial::GetHandshaking - Device is not opened\n", [&] { return port.GetHandshaking(); },
         -1},
        {"CSerial::GetEventMask - Device is not opened\n", [&] { return port.GetEventMask(); }, 0},
        {"CSerial::GetEventChar - Device is not opened\n", [&] { return port.GetEventChar(); }, 0},
        {"CSerial::GetError - Device is not opened\n", [&] { return port.GetError(); }, 0},
        {nullptr, [&] { return port.GetInQueueCount(); }, 0},
        {nullptr, [&] { return port.GetOutQueueCount(); }, 0},
        {nullptr, [&] { return port.Flush(); }, 6},
        {nullptr, [&] { return port.Purge(); }, 6},
        {nullptr, [&] { return port.PurgeInput(); }, 6},
        {"CSerial::SetDTR - Device is not opened\n", [&] { return port.SetDTR(true); }, 6},
        {"CSerial::SetRTS - Device is not opened\n", [&] { return port.SetRTS(false); }, 6},
        {"CSerial::SetBreak - Device is not opened\n", [&] { return port.SetBreak(true); }, 6},
        {"CSerial::GetCTS - Unable to obtain the modem status\n", [&] { return port.GetCTS(); }, 0},
        {"CSerial::GetRing - Unable to obtain the modem status", [&] { return port.GetRing(); }, 0},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.trace ? k.trace : "untraced");
        EXPECT_EQ(k.call(), k.result);
        EXPECT_EQ(port.GetLastError(), 6);
        auto seen = traces.Take();
        if (k.trace)
            EXPECT_EQ(seen, std::vector<std::string>{k.trace});
        else
            EXPECT_TRUE(seen.empty());
    }
    for (bool reading : {true, false}) {
        c::DWORD count = 99;
        char buf[4];
        EXPECT_EQ(reading ? port.Read(buf, 4, &count, nullptr, 0)
                          : port.Write(buf, 4, &count, nullptr, 0),
                  6);
        EXPECT_EQ(count, 0u);
        EXPECT_TRUE(traces.Saw(reading ? "CSerial::Read - Device is not opened\n"
                                       : "CSerial::Write - Device is not opened\n"));
    }
}

TEST_F(SerialTest, LineSettingsReachTheDeviceAndReadBack) {
    OpenSim();
    EXPECT_EQ(
        port.Setup(CSerial::baud115200, CSerial::data8, CSerial::parityNone, CSerial::stopOne), 0);
    EXPECT_EQ(sim.Line().baud, 115200u);
    EXPECT_FALSE(sim.Line().parityCheck);
    EXPECT_EQ(port.Setup(CSerial::baud9600, CSerial::data7, CSerial::parityEven, CSerial::stopTwo),
              0);
    EXPECT_EQ(sim.Line().dataBits, 7);
    EXPECT_EQ(sim.Line().parity, 2);
    EXPECT_TRUE(sim.Line().parityCheck);
    EXPECT_EQ(port.GetParity(), CSerial::parityEven);
    EXPECT_EQ(port.GetStopBits(), CSerial::stopTwo);

    // Values the device refuses, and values that would alias another one in the record's byte.
    EXPECT_EQ(
        port.Setup(CSerial::baud9600, CSerial::data8, CSerial::parityNone, CSerial::stopOneHalf),
        87);
    EXPECT_EQ(port.Setup(CSerial::baud9600, CSerial::DataBits(264), CSerial::parityNone,
                         CSerial::stopOne),
              87);
    EXPECT_TRUE(traces.Saw("CSerial::Setup - Unable to set DCB information\n"));
    EXPECT_EQ(sim.Line().dataBits, 7);

    // A parity byte without parity checking reads back as none.
    EXPECT_EQ(port.Setup(CSerial::baud9600, CSerial::data8, CSerial::parityNone, CSerial::stopOne),
              0);
    c::LineSettings line = sim.Line();
    line.parity = 2;
    sim.SetLine(line);
    EXPECT_EQ(port.GetParity(), CSerial::parityNone);

    c::FailCall(c::Call::GetCommState, 31, 1);
    EXPECT_EQ(port.GetEventChar(), 0);
    EXPECT_EQ(port.GetLastError(), 31);
    EXPECT_TRUE(traces.Saw("CSerial::GetEventChar - Unable to obtain DCB information\n"));
}

TEST_F(SerialTest, HandshakingAndReadTimeoutModes) {
    OpenSim();
    for (auto mode :
         {CSerial::handshakeHardware, CSerial::handshakeSoftware, CSerial::handshakeOff}) {
        EXPECT_EQ(port.SetupHandshaking(mode), 0);
        EXPECT_EQ(port.GetHandshaking(), mode);
    }
    EXPECT_EQ(sim.OutputLines(), c::kLineDtr | c::kLineRts);
    const c::LineSettings before = sim.Line();
    EXPECT_EQ(port.SetupHandshaking(CSerial::Handshaking(3)), comm::E_INVALIDARG);
    EXPECT_TRUE(traces.Saw("false"));
    EXPECT_EQ(sim.Line(), before);

    c::DCB dcb{};
    ASSERT_TRUE(c::GetCommState(port.m_hPort, &dcb));
    dcb.fDtrControl = c::DTR_CONTROL_HANDSHAKE; // half of hardware mode reads back as off
    ASSERT_TRUE(c::SetCommState(port.m_hPort, &dcb));
    EXPECT_EQ(port.GetHandshaking(), CSerial::handshakeOff);

    c::COMMTIMEOUTS t{1, 2, 3, 4, 5};
    ASSERT_TRUE(c::SetCommTimeouts(port.m_hPort, &t));
    EXPECT_EQ(port.SetupReadTimeouts(CSerial::readBlocking), 0);
    ASSERT_TRUE(c::GetCommTimeouts(port.m_hPort, &t));
    EXPECT_EQ(t.ReadIntervalTimeout + t.ReadTotalTimeoutMultiplier + t.ReadTotalTimeoutConstant,
              0u);
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 4u);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 5u);
    EXPECT_EQ(port.SetupReadTimeouts(CSerial::ReadTimeouts(2)), comm::E_INVALIDARG);

    EXPECT_EQ(port.SetEventChar('\n', false), 0);
    EXPECT_EQ(port.GetEventMask(), 0xC1u);
    EXPECT_EQ(port.SetEventChar('#', true), 0);
    EXPECT_EQ(port.GetEventMask(), 0xC3u);
    EXPECT_EQ(port.GetEventChar(), '#');
}

TEST_F(SerialTest, WaitEventBlockingAndWithTheCallersRecord) {
    OpenSim();
    EXPECT_EQ(port.WaitEvent(nullptr, 0), comm::ERROR_TIMEOUT);
    EXPECT_EQ(port.TakeLastEvents(), CSerial::eventUnknown);

    std::thread feeder([&] { sim.Feed("a"); });
    EXPECT_EQ(port.WaitEvent(nullptr, c::INFINITE), 0);
    feeder.join();
    EXPECT_TRUE(port.TakeLastEvents() & CSerial::eventRxChar);
    EXPECT_EQ(port.TakeLastEvents(), CSerial::eventUnknown);

    c::OVERLAPPED ov{};
    ov.hEvent = c::CreateEventA(nullptr, c::TRUE, c::FALSE, nullptr);
    EXPECT_EQ(port.WaitEvent(&ov, 0), 0); // pending
    EXPECT_EQ(c::WaitForSingleObject(ov.hEvent, 0), c::WAIT_TIMEOUT);
    c::LineCounters brk;
    brk.brk = 1;
    sim.InjectErrors(brk);
    EXPECT_EQ(c::WaitForSingleObject(ov.hEvent, 5000), c::WAIT_OBJECT_0);
    EXPECT_EQ(port.TakeLastEvents(), CSerial::eventBreak);
    sim.InjectErrors(brk);
    EXPECT_EQ(port.WaitEvent(&ov, 0), 0); // the break is already there
    EXPECT_EQ(c::WaitForSingleObject(ov.hEvent, 0), c::WAIT_OBJECT_0);
    c::CloseHandle(ov.hEvent);
}

TEST_F(SerialTest, BlockingTransfers) {
    OpenPty();
    ASSERT_EQ(port.SetupReadTimeouts(CSerial::readBlocking), 0);
    c::DWORD count = 99;
    char buf[8] = {};
    EXPECT_EQ(port.Read(buf, 0, &count, nullptr, 1000), 0);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(port.Read(buf, 4, &count, nullptr, 0), comm::ERROR_TIMEOUT);
    // A time-out that comes after some bytes: SerialLineTest.ReadTimeOutKeepsTheShortCount.

    EXPECT_EQ(port.Write("", &count, nullptr, 1000), 0);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(port.Write("abc", &count, nullptr, 1000), 0);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(port.Write(static_cast<const char*>(nullptr), &count, nullptr, 1000), 0);
    EXPECT_EQ(pty.Receive(4, 200ms), "abc");

    // The wait itself fails: the read is ended before the call returns, the buffer stays as is.
    c::FailCall(c::Call::WaitForSingleObject, 6, 1);
    std::memset(buf, '-', sizeof buf);
    EXPECT_EQ(port.Read(buf, 4, &count, nullptr, 1000), 6);
    EXPECT_TRUE(traces.Saw("CSerial::Read - Unable to wait until data has been read\n"));
    ASSERT_TRUE(pty.Send("late"));
    ASSERT_TRUE(WaitUntil([&] { return port.GetInQueueCount() == 4; }, 2s));
    EXPECT_EQ(std::string(buf, 4), "----");

    // Completed, but the result cannot be fetched.
    c::COMMTIMEOUTS t{0, 0, 20, 0, 0};
    ASSERT_TRUE(c::SetCommTimeouts(port.m_hPort, &t));
    c::FailCall(c::Call::GetOverlappedResult, 31, 1);
    EXPECT_EQ(port.Read(buf, 8, &count, nullptr, 1000), 31);
    EXPECT_TRUE(traces.Saw("CSerial::Read - Overlapped completed without result\n"));
}

TEST_F(SerialTest, AsynchronousTransfersAndClosingUnderThem) {
    OpenPty();
    ASSERT_EQ(port.SetupReadTimeouts(CSerial::readBlocking), 0);
    c::OVERLAPPED ov{};
    ov.hEvent = c::CreateEventA(nullptr, c::TRUE, c::FALSE, nullptr);
    c::DWORD count = 99;
    EXPECT_EQ(port.Write("hi", &count, &ov, 0), 0); // completes at once
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(c::WaitForSingleObject(ov.hEvent, 0), c::WAIT_OBJECT_0);

    char buf[4];
    EXPECT_EQ(port.Read(buf, 4, nullptr, &ov, 0), 0); // pending, and no count pointer
    EXPECT_TRUE(traces.Saw("!lpOverlapped || pdwRead"));
    EXPECT_EQ(port.Read(buf, 4, &count, &ov, 0), 87); // the record is still in use
    EXPECT_TRUE(traces.Saw("HasOverlappedIoCompleted(lpOverlapped)"));
    EXPECT_EQ(port.Close(), 0);
    EXPECT_EQ(c::WaitForSingleObject(ov.hEvent, 0), c::WAIT_OBJECT_0);
    EXPECT_FALSE(c::GetOverlappedResult(nullptr, &ov, &count, c::FALSE));
    EXPECT_EQ(c::GetLastError(), c::ERROR_OPERATION_ABORTED);
    c::CloseHandle(ov.hEvent);
}

TEST_F(SerialTest, HangUpDuringARead) {
    OpenPty();
    ASSERT_EQ(port.SetupReadTimeouts(CSerial::readBlocking), 0);
    auto queued = [&] {
        c::COMSTAT stat{};
        return c::ClearCommError(port.m_hPort, nullptr, &stat) ? stat.cbInQue : 99u;
    };
    ASSERT_TRUE(pty.Send("ab"));
    ASSERT_TRUE(WaitUntil([&] { return queued() == 2; }, 2s));
    c::DWORD count = 0;
    char buf[16];
    CSerial::LONG result = -1;
    std::thread reader([&] { result = port.Read(buf, 16, &count, nullptr, 10000); });
    // The pending read has taken the two bytes; then the line goes away.
    ASSERT_TRUE(WaitUntil([&] { return queued() == 0; }, 2s));
    pty.HangUp();
    reader.join();
    EXPECT_EQ(result, 995);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(port.GetInQueueCount(), 0u);
    EXPECT_EQ(port.GetLastError(), 5);
    EXPECT_EQ(port.Read(buf, 16, &count, nullptr, 100), 5);
    EXPECT_EQ(port.Write("x", &count, nullptr, 10000), 5);
    EXPECT_EQ(port.Purge(), 5);
    EXPECT_EQ(port.Flush(), 5);
    EXPECT_EQ(port.Close(), 0);
}

TEST_F(SerialTest, QueuesLineErrorsAndModemLines) {
    OpenSim();
    EXPECT_EQ(port.GetError(), 0u);
    c::LineCounters errors;
    errors.overrun = 1;
    sim.InjectErrors(errors);
    EXPECT_EQ(port.GetError(), c::CE_OVERRUN);
    EXPECT_EQ(port.GetError(), 0u);

    ASSERT_TRUE(sim.Feed("12345"));
    ASSERT_TRUE(WaitUntil([&] { return port.GetInQueueCount() == 5; }, 2s));
    sim.SetOutQueue(7);
    EXPECT_EQ(port.GetOutQueueCount(), 7u);
    EXPECT_EQ(port.Purge(), 0);
    EXPECT_EQ(port.GetInQueueCount(), 0u);

    sim.SetInputLines(c::kLineDsr | c::kLineRing);
    EXPECT_FALSE(port.GetCTS());
    EXPECT_TRUE(port.GetDSR());
    EXPECT_TRUE(port.GetRing());
    EXPECT_FALSE(port.GetRLSD());
    sim.SetHasModemLines(false);
    EXPECT_FALSE(port.GetDSR());
    EXPECT_EQ(port.GetLastError(), 50);
    EXPECT_TRUE(traces.Saw("CSerial::GetDSR - Unable to obtain the modem status\n"));

    c::FailCall(c::Call::FlushFileBuffers, 31, 1);
    EXPECT_EQ(port.Flush(), 31);
    EXPECT_TRUE(traces.Saw("Failed in call to FlushFileBuffers\n"));
    EXPECT_EQ(port.Flush(), 0);
}

TEST_F(SerialTest, LineControlReachesTheDevice) {
    OpenSim();
    struct Step {
        std::function<long long()> call;
        int lines;
        bool breaking;
    } steps[] = {
        {[&] { return port.SetDTR(false); }, c::kLineRts, false},
        {[&] { return port.SetRTS(false); }, 0, false},
        {[&] { return port.SetDTR(true); }, c::kLineDtr, false},
        {[&] { return port.SetBreak(true); }, c::kLineDtr, true},
        {[&] { return port.SetRTS(true); }, c::kLineDtr | c::kLineRts, true},
        {[&] { return port.SetBreak(false); }, c::kLineDtr | c::kLineRts, false},
    };
    for (const Step& step : steps) {
        EXPECT_EQ(step.call(), 0);
        EXPECT_EQ(port.GetLastError(), 0);
        EXPECT_EQ(sim.OutputLines(), step.lines);
        EXPECT_EQ(sim.Breaking(), step.breaking);
    }
    EXPECT_TRUE(traces.Take().empty());

    // Received bytes go; what waits to be sent stays.
    ASSERT_TRUE(sim.Feed("stale"));
    ASSERT_TRUE(WaitUntil([&] { return port.GetInQueueCount() == 5; }, 2s));
    sim.SetOutQueue(7);
    EXPECT_EQ(port.PurgeInput(), 0);
    EXPECT_EQ(port.GetInQueueCount(), 0u);
    EXPECT_EQ(port.GetOutQueueCount(), 7u);
    EXPECT_EQ(sim.InputDiscards(), 1);
    EXPECT_EQ(sim.OutputDiscards(), 0);
    c::DWORD count = 0;
    EXPECT_EQ(port.Write("sent", &count, nullptr, 1000), 0);
    EXPECT_EQ(sim.TakeSent(4, 2s), "sent");
    ASSERT_TRUE(sim.Feed("fresh"));
    ASSERT_TRUE(WaitUntil([&] { return port.GetInQueueCount() == 5; }, 2s));
    char buf[8] = {};
    EXPECT_EQ(port.Read(buf, 5, &count, nullptr, 1000), 0);
    EXPECT_EQ(std::string(buf, count), "fresh");

    c::FailCall(c::Call::PurgeComm, 31);
    EXPECT_EQ(port.PurgeInput(), 31);
    EXPECT_EQ(port.GetLastError(), 31);

    // Lines under hardware handshaking are not set by hand.
    ASSERT_EQ(port.SetupHandshaking(CSerial::handshakeHardware), 0);
    EXPECT_EQ(port.SetDTR(false), c::ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(traces.Saw("CSerial::SetDTR - Unable to set the DTR line\n"));
    EXPECT_EQ(port.SetRTS(false), c::ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(traces.Saw("CSerial::SetRTS - Unable to set the RTS line\n"));
    EXPECT_EQ(sim.OutputLines(), c::kLineDtr | c::kLineRts);
    EXPECT_EQ(port.SetBreak(true), 0);
    EXPECT_TRUE(sim.Breaking());

    c::FailCall(c::Call::EscapeCommFunction, 31);
    EXPECT_EQ(port.SetBreak(false), 31);
    EXPECT_EQ(port.GetLastError(), 31);
    EXPECT_TRUE(traces.Saw("CSerial::SetBreak - Unable to set the break state\n"));
    EXPECT_TRUE(sim.Breaking());
    EXPECT_EQ(port.Close(), 0);
    EXPECT_FALSE(sim.Breaking());
}

TEST_F(SerialTest, OnAPtyTheModemLinesFailAndTheLineGoesOn) {
    OpenPty();
    EXPECT_EQ(port.SetDTR(true), c::ERROR_NOT_SUPPORTED);
    EXPECT_EQ(port.GetLastError(), c::ERROR_NOT_SUPPORTED);
    EXPECT_TRUE(traces.Saw("CSerial::SetDTR - Unable to set the DTR line\n"));
    EXPECT_EQ(port.SetRTS(false), c::ERROR_NOT_SUPPORTED);
    EXPECT_TRUE(port.SetBreak(true) == 0 || kEmulated);
    EXPECT_TRUE(port.SetBreak(false) == 0 || kEmulated);
    ASSERT_EQ(port.SetupReadTimeouts(CSerial::readBlocking), 0);

    c::DWORD count = 0;
    EXPECT_EQ(port.Write("out", &count, nullptr, 1000), 0);
    EXPECT_EQ(pty.Receive(3, 2s), "out");
    ASSERT_TRUE(pty.Send("stale"));
    ASSERT_TRUE(WaitUntil([&] { return port.GetInQueueCount() == 5; }, 2s));
    EXPECT_EQ(port.PurgeInput(), 0);
    EXPECT_EQ(port.GetInQueueCount(), 0u);
    ASSERT_TRUE(pty.Send("in"));
    char buf[4] = {};
    EXPECT_EQ(port.Read(buf, 2, &count, nullptr, 1000), 0);
    EXPECT_EQ(std::string(buf, count), "in");
    EXPECT_EQ(port.Close(), 0);
}

TEST_F(SerialTest, TheBridgesSequenceOnAPty) {
    {
        Probe scoped;
        ASSERT_EQ(scoped.Open("COM9", 2048, 2048), 0);
    } // destroyed while open: traced and closed
    EXPECT_TRUE(traces.Saw("CSerial::~CSerial - Serial port not closed\n"));

    OpenPty();
    ASSERT_EQ(
        port.Setup(CSerial::baud115200, CSerial::data8, CSerial::parityNone, CSerial::stopOne), 0);
    ASSERT_EQ(port.SetupReadTimeouts(CSerial::readBlocking), 0);
    const std::string in(300, 'i');
    ASSERT_TRUE(pty.Send(in));
    ASSERT_TRUE(WaitUntil([&] { return port.GetInQueueCount() == in.size(); }, 2s));
    std::vector<char> buf(in.size());
    c::DWORD count = 0;
    EXPECT_EQ(port.Read(buf.data(), port.GetInQueueCount(), &count, nullptr, 100), 0);
    EXPECT_EQ(std::string(buf.data(), count), in);

    std::string out(3096, 'o');
    EXPECT_EQ(port.Purge(), 0);
    EXPECT_EQ(port.Write(out.data(), static_cast<c::DWORD>(out.size()), &count, nullptr, 10000), 0);
    EXPECT_EQ(count, out.size());
    EXPECT_EQ(port.Flush(), 0);
    EXPECT_EQ(pty.Receive(out.size(), 2s), out);
    EXPECT_EQ(port.Close(), 0);
}

} // namespace
