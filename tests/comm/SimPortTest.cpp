// A port of the comm layer on the simulated device, which has what a pseudo-terminal lacks: the
// whole line, line errors, modem lines and their events, the escape functions, faults on demand.
#include "OpenPort.h"
#include "serial/comm/Comm.h"
#include "serial/comm/Faults.h"
#include "serial/comm/linux/SimDevice.h"
#include "support/WaitUntil.h"

#include <gtest/gtest.h>

#include <thread>

using namespace comm;
using comm_test::OpenPort;
using namespace std::chrono_literals;
using testing_support::WaitUntil;

namespace {

class SimPort : public ::testing::Test {
protected:
    void SetUp() override {
        port = OpenPort("SIM1");
        ASSERT_NE(port, INVALID_HANDLE_VALUE);
    }
    void TearDown() override {
        CloseHandle(port);
        ClearFaults();
    }
    SimDevice sim{"SIM1"};
    HANDLE port = INVALID_HANDLE_VALUE;
};

// What a pseudo-terminal cannot keep (data bits, parity) reaches a device that can, and is read
// back from it: the whole line, as the settings file's FORMAT and FLOW give it.
TEST_F(SimPort, TheWholeLineReachesTheDeviceAndIsReadBack) {
    const struct {
        DWORD baud;
        BYTE size, parity, stop;
        bool rtsCts;
    } lines[] = {{19200, 8, EVENPARITY, ONESTOPBIT, false},
                 {300, 7, EVENPARITY, ONESTOPBIT, false},
                 {4800, 5, ODDPARITY, ONE5STOPBITS, true},
                 {250000, 7, MARKPARITY, TWOSTOPBITS, true},
                 {50, 6, SPACEPARITY, TWOSTOPBITS, false}};
    for (const auto& l : lines) {
        DCB dcb{};
        ASSERT_TRUE(GetCommState(port, &dcb));
        dcb.BaudRate = l.baud;
        dcb.ByteSize = l.size;
        dcb.Parity = l.parity;
        dcb.fParity = 1;
        dcb.StopBits = l.stop;
        dcb.fOutxCtsFlow = l.rtsCts ? 1 : 0;
        dcb.fRtsControl = l.rtsCts ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
        ASSERT_TRUE(SetCommState(port, &dcb)) << l.baud;
        const LineSettings held = sim.Line();
        EXPECT_EQ(held.baud, l.baud);
        EXPECT_EQ(held.dataBits, l.size);
        EXPECT_EQ(held.parity, l.parity);
        EXPECT_EQ(held.stopBits, l.stop);
        EXPECT_EQ(held.ctsRtsFlow, l.rtsCts);
        DCB back{};
        ASSERT_TRUE(GetCommState(port, &back));
        EXPECT_EQ(back.ByteSize, l.size);
        EXPECT_EQ(back.Parity, l.parity);
        EXPECT_EQ(back.StopBits, l.stop);
        EXPECT_EQ(back.fOutxCtsFlow, l.rtsCts ? 1u : 0u);
    }
}

TEST_F(SimPort, ReportsLineErrorsOnceAndModemLines) {
    DWORD errors = 0;
    ASSERT_TRUE(ClearCommError(port, &errors, nullptr));
    EXPECT_EQ(errors, 0u);
    LineCounters added;
    added.frame = 1;
    added.brk = 2;
    sim.InjectErrors(added);
    ASSERT_TRUE(ClearCommError(port, &errors, nullptr));
    EXPECT_EQ(errors, CE_FRAME | CE_BREAK);
    ASSERT_TRUE(ClearCommError(port, &errors, nullptr));
    EXPECT_EQ(errors, 0u);

    sim.SetInputLines(kLineCts | kLineDcd);
    DWORD bits = 0;
    ASSERT_TRUE(GetCommModemStatus(port, &bits));
    EXPECT_EQ(bits, MS_CTS_ON | MS_RLSD_ON);
}

TEST_F(SimPort, LineEventsEndWaits) {
    ASSERT_TRUE(SetCommMask(port, EV_BREAK | EV_ERR | EV_CTS));
    OVERLAPPED ov{};
    DWORD events = 0;
    ASSERT_FALSE(WaitCommEvent(port, &events, &ov));
    LineCounters added;
    added.parity = 1;
    sim.InjectErrors(added);
    DWORD n = 0;
    ASSERT_TRUE(GetOverlappedResult(port, &ov, &n, TRUE));
    EXPECT_EQ(events, EV_ERR);

    // Before the wait starts: kept and reported at once.
    sim.SetInputLines(kLineCts);
    added = {};
    added.brk = 1;
    sim.InjectErrors(added);
    ASSERT_TRUE(WaitCommEvent(port, &events, &ov));
    EXPECT_EQ(events, EV_BREAK | EV_CTS);
}

TEST_F(SimPort, AWaitThatFindsTheDeviceGoneEndsAtOnce) {
    ASSERT_TRUE(SetCommMask(port, EV_CTS | EV_RXCHAR));
    sim.HangUpQuietly();
    OVERLAPPED ov{};
    DWORD events = 0;
    EXPECT_FALSE(WaitCommEvent(port, &events, &ov));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(WaitCommEvent(port, &events, &ov));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST_F(SimPort, EscapeFunctionsDriveTheOutputLinesAndTheBreak) {
    struct Step {
        DWORD func;
        int lines;
        bool breaking;
    } steps[] = {
        {SETDTR, kLineDtr, false},
        {SETRTS, kLineDtr | kLineRts, false},
        {CLRDTR, kLineRts, false},
        {CLRRTS, 0, false},
        {SETRTS, kLineRts, false},
        {SETBREAK, kLineRts, true},
        {SETBREAK, kLineRts, true},
        {CLRBREAK, kLineRts, false},
        {SETDTR, kLineDtr | kLineRts, false},
    };
    for (const Step& step : steps) {
        EXPECT_TRUE(EscapeCommFunction(port, step.func)) << step.func;
        EXPECT_EQ(sim.OutputLines(), step.lines) << step.func;
        EXPECT_EQ(sim.Breaking(), step.breaking) << step.func;
    }
    ASSERT_TRUE(SetCommBreak(port));
    EXPECT_TRUE(sim.Breaking());
    ASSERT_TRUE(ClearCommBreak(port));
    EXPECT_FALSE(sim.Breaking());

    for (DWORD func : {DWORD{0}, DWORD{1}, DWORD{2}, DWORD{7}, DWORD{10}, MAXDWORD}) {
        EXPECT_FALSE(EscapeCommFunction(port, func)) << func;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER) << func;
    }
    EXPECT_EQ(sim.OutputLines(), kLineDtr | kLineRts);

    // Lines under handshaking are the handshaking's.
    DCB dcb{};
    ASSERT_TRUE(GetCommState(port, &dcb));
    DCB shaking = dcb;
    shaking.fDtrControl = DTR_CONTROL_HANDSHAKE;
    shaking.fRtsControl = RTS_CONTROL_HANDSHAKE;
    ASSERT_TRUE(SetCommState(port, &shaking));
    for (DWORD func : {SETDTR, CLRDTR, SETRTS, CLRRTS}) {
        EXPECT_FALSE(EscapeCommFunction(port, func)) << func;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER) << func;
    }
    EXPECT_EQ(sim.OutputLines(), kLineDtr | kLineRts);
    ASSERT_TRUE(SetCommState(port, &dcb));
    EXPECT_TRUE(EscapeCommFunction(port, CLRDTR));
    EXPECT_EQ(sim.OutputLines(), kLineRts);

    sim.SetHasModemLines(false);
    EXPECT_FALSE(EscapeCommFunction(port, SETDTR));
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    EXPECT_TRUE(SetCommBreak(port));
    EXPECT_TRUE(sim.Breaking());

    FailCall(Call::EscapeCommFunction, ERROR_GEN_FAILURE);
    EXPECT_FALSE(EscapeCommFunction(port, CLRBREAK));
    EXPECT_EQ(GetLastError(), ERROR_GEN_FAILURE);
    EXPECT_TRUE(sim.Breaking());
    FailCall(Call::ClearCommBreak, ERROR_GEN_FAILURE);
    EXPECT_FALSE(ClearCommBreak(port));
    EXPECT_TRUE(sim.Breaking());

    // A break left on ends with the port.
    EXPECT_TRUE(CloseHandle(port));
    EXPECT_FALSE(sim.Breaking());
    EXPECT_FALSE(EscapeCommFunction(port, SETBREAK));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(SetCommBreak(port));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    port = INVALID_HANDLE_VALUE;
}

TEST_F(SimPort, EscapeFunctionsOnAVanishedDeviceReportTheHangUp) {
    sim.HangUpQuietly();
    EXPECT_FALSE(EscapeCommFunction(port, SETBREAK));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(EscapeCommFunction(port, SETDTR));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST_F(SimPort, FaultsFailExactlyTheCallsAsked) {
    FailCall(Call::GetCommState, ERROR_GEN_FAILURE, 1, 1);
    DCB dcb{};
    EXPECT_TRUE(GetCommState(port, &dcb));
    EXPECT_FALSE(GetCommState(port, &dcb));
    EXPECT_EQ(GetLastError(), ERROR_GEN_FAILURE);
    EXPECT_TRUE(GetCommState(port, &dcb));
}

TEST_F(SimPort, SecondOpenIsRefusedAndHangUpBlocksReopen) {
    EXPECT_EQ(OpenPort("sim1"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    sim.HangUp();
    ASSERT_TRUE(WaitUntil(
        [&] {
            COMSTAT s{};
            return !ClearCommError(port, nullptr, &s) && GetLastError() == ERROR_ACCESS_DENIED;
        },
        2s));
    EXPECT_TRUE(CloseHandle(port));
    port = INVALID_HANDLE_VALUE;
    EXPECT_EQ(OpenPort("SIM1"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

} // namespace
