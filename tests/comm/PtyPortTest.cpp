// A port of the comm layer on a pseudo-terminal: transfers and the receive queue, read time-outs,
// cancelling, event waits, the line settings, purging, the modem lines a pty lacks, closing and
// hang-ups.
#include "OpenPort.h"
#include "serial/comm/Comm.h"
#include "serial/comm/Faults.h"
#include "support/Emulated.h"
#include "support/Pattern.h"
#include "support/PtyPair.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <utility>

using namespace comm;
using comm_test::OpenPort;
using namespace std::chrono_literals;
using testing_support::kEmulated;
using testing_support::NamedPty;
using testing_support::PtyPair;
using testing_support::WaitUntil;

namespace {

// A port on a fresh pty pair, named COM9 in the test's own settings file.
class PtyPort : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pty.Ok());
        port = OpenPort("COM9");
        ASSERT_NE(port, INVALID_HANDLE_VALUE) << GetLastError();
        event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        ov.hEvent = event;
    }
    void TearDown() override {
        if (port != INVALID_HANDLE_VALUE) {
            EXPECT_TRUE(CloseHandle(port));
        }
        CloseHandle(event);
        ClearFaults();
    }
    void SetTimeouts(DWORD interval, DWORD mult, DWORD constant, DWORD wmult = 0,
                     DWORD wconst = 0) {
        COMMTIMEOUTS t{interval, mult, constant, wmult, wconst};
        ASSERT_TRUE(SetCommTimeouts(port, &t));
    }
    DWORD Result(BOOL* ok = nullptr) {
        DWORD n = 0;
        BOOL done = GetOverlappedResult(port, &ov, &n, TRUE);
        if (ok)
            *ok = done;
        return n;
    }

    NamedPty com9{"COM9"};
    PtyPair& pty = com9.pty;
    HANDLE port = INVALID_HANDLE_VALUE;
    HANDLE event = nullptr;
    OVERLAPPED ov{};
};

TEST_F(PtyPort, WritesAtOnceAndReadsWhatIsQueued) {
    DWORD n = 0;
    ASSERT_TRUE(WriteFile(port, "hello", 5, &n, &ov));
    EXPECT_EQ(n, 5u);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(pty.Receive(5, 2s), "hello");

    ASSERT_TRUE(pty.Send("world"));
    COMSTAT stat{};
    ASSERT_TRUE(
        WaitUntil([&] { return ClearCommError(port, nullptr, &stat) && stat.cbInQue == 5; }, 2s));
    char buf[8] = {};
    ASSERT_TRUE(ReadFile(port, buf, 5, &n, &ov)); // all queued: completes at once
    EXPECT_EQ(std::string(buf, n), "world");
}

// A device that keeps sending while the receive queue is full: once a read makes room, the port
// takes more from the device at once, not only when the queue is empty, so that little waits in
// the system where a fast line overruns it.
TEST_F(PtyPort, AFullQueueReadsTheDeviceAgainAsSoonAsAReadMakesRoom) {
    SetTimeouts(MAXDWORD, 0, 0);
    ASSERT_TRUE(SetupComm(port, 4096, 4096));
    const std::string sent = testing_support::Pattern(0, 4096 + 1000);
    ASSERT_TRUE(pty.Send(sent));
    COMSTAT stat{};
    ASSERT_TRUE(WaitUntil(
        [&] {
            return ClearCommError(port, nullptr, &stat) && stat.cbInQue == sent.size() &&
                   pty.Waiting() == 1000;
        },
        2s));
    std::string got(sent.size(), '\0');
    DWORD n = 0;
    ASSERT_TRUE(ReadFile(port, got.data(), 100, &n, &ov));
    ASSERT_EQ(n, 100u);
    EXPECT_TRUE(WaitUntil([&] { return pty.Waiting() == 900; }, 2s)) << pty.Waiting();
    std::size_t done = n;
    EXPECT_TRUE(WaitUntil(
        [&] {
            if (ReadFile(port, got.data() + done, static_cast<DWORD>(sent.size() - done), &n, &ov))
                done += n;
            return done == sent.size();
        },
        2s));
    EXPECT_TRUE(got == sent);
}

TEST_F(PtyPort, ReadTimeoutModes) {
    struct Case {
        const char* what;
        COMMTIMEOUTS timeouts;
        const char* before; // sent before the read starts
        const char* after;  // sent while it is pending
        bool pending;
        const char* expected;
    } cases[] = {
        {"immediate, nothing queued", {MAXDWORD, 0, 0, 0, 0}, "", "", false, ""},
        {"immediate, some queued", {MAXDWORD, 0, 0, 0, 0}, "ab", "", false, "ab"},
        {"blocking until all came", {0, 0, 0, 0, 0}, "ab", "cdef", true, "abcd"},
        {"total time-out, short count", {0, 0, 30, 0, 0}, "", "xy", true, "xy"},
        {"first byte", {MAXDWORD, MAXDWORD, 2000, 0, 0}, "", "q", true, "q"},
        {"interval after the first byte", {20, 0, 0, 0, 0}, "", "rs", true, "rs"},
        {"interval within a long total", {20, 0, 60000, 0, 0}, "", "tu", true, "tu"},
        {"interval, bytes queued before", {20, 0, 60000, 0, 0}, "vw", "", true, "vw"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(PurgeComm(port, PURGE_RXCLEAR));
        ASSERT_TRUE(SetCommTimeouts(port, &c.timeouts));
        if (*c.before) {
            ASSERT_TRUE(pty.Send(c.before));
            COMSTAT stat{};
            ASSERT_TRUE(WaitUntil(
                [&] {
                    return ClearCommError(port, nullptr, &stat) && stat.cbInQue == strlen(c.before);
                },
                2s));
        }
        char buf[4] = {};
        DWORD n = 0;
        BOOL done = ReadFile(port, buf, 4, &n, &ov);
        ASSERT_EQ(done == FALSE, c.pending);
        if (c.pending) {
            ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
            EXPECT_FALSE(GetOverlappedResult(port, &ov, &n, FALSE));
            EXPECT_EQ(GetLastError(), ERROR_IO_INCOMPLETE);
            ASSERT_TRUE(pty.Send(c.after));
            // Every read here ends within moments, on its gap or its short total.
            ASSERT_EQ(WaitForSingleObject(ov.hEvent, 5000), WAIT_OBJECT_0);
            BOOL ok = FALSE;
            n = Result(&ok);
            EXPECT_TRUE(ok);
        }
        EXPECT_EQ(std::string(buf, n), c.expected);
    }
}

TEST_F(PtyPort, CancelEndsOnlyTheCallersOperationsAndKeepsTheBytesMoved) {
    SetTimeouts(0, 0, 0);
    char buf[8] = {};
    DWORD n = 0;
    ASSERT_TRUE(pty.Send("abc"));
    ASSERT_TRUE(WaitUntil(
        [&] {
            COMSTAT s{};
            return ClearCommError(port, nullptr, &s) && s.cbInQue == 3;
        },
        2s));
    ASSERT_FALSE(ReadFile(port, buf, 8, &n, &ov));
    // The record is in use: starting another operation on it is refused.
    OVERLAPPED* same = &ov;
    EXPECT_FALSE(ReadFile(port, buf, 8, &n, same));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

    // Another thread's cancel leaves this thread's read alone.
    std::thread([&] { EXPECT_TRUE(CancelIo(port)); }).join();
    EXPECT_FALSE(HasOverlappedIoCompleted(&ov));

    ASSERT_TRUE(CancelIo(port));
    BOOL ok = TRUE;
    EXPECT_EQ(Result(&ok), 3u);
    EXPECT_FALSE(ok);
    EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
    EXPECT_EQ(std::string(buf, 3), "abc");
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
}

TEST_F(PtyPort, WriteToAStalledLineTimesOutWithAShortCount) {
    SetTimeouts(MAXDWORD, 0, 0, 0, 50);
    std::string block(256 * 1024, 'z'); // far more than the pty takes while nobody reads
    DWORD n = 0;
    ASSERT_FALSE(WriteFile(port, block.data(), static_cast<DWORD>(block.size()), &n, &ov));
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    COMSTAT stat{};
    EXPECT_TRUE(ClearCommError(port, nullptr, &stat));
    EXPECT_GT(stat.cbOutQue, 0u);
    BOOL ok = FALSE;
    DWORD moved = Result(&ok);
    EXPECT_TRUE(ok);
    EXPECT_GT(moved, 0u);
    EXPECT_LT(moved, block.size());
    EXPECT_EQ(pty.Drain(50ms).size(), moved);
}

TEST_F(PtyPort, EventWaitsUseTheHistoryAndEndOnMaskChange) {
    ASSERT_TRUE(SetCommMask(port, EV_RXCHAR | EV_TXEMPTY));
    DWORD events = 0;
    ASSERT_FALSE(WaitCommEvent(port, &events, &ov));
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    ASSERT_TRUE(pty.Send("x"));
    Result();
    EXPECT_EQ(events, EV_RXCHAR);

    // An event that came while nobody waited is kept for the next wait.
    DWORD n = 0;
    ASSERT_TRUE(WriteFile(port, "y", 1, &n, &ov));
    EXPECT_TRUE(WaitCommEvent(port, &events, &ov));
    EXPECT_EQ(events, EV_TXEMPTY);

    ASSERT_FALSE(WaitCommEvent(port, &events, &ov));
    ASSERT_TRUE(SetCommMask(port, EV_RXCHAR));
    BOOL ok = FALSE;
    Result(&ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(events, 0u);

    ASSERT_TRUE(SetCommMask(port, 0));
    EXPECT_FALSE(WaitCommEvent(port, &events, &ov));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(PtyPort, SettingsRoundTripAndRejectsWhatCannotBeApplied) {
#ifdef VARNEL_WITHOUT_TERMIOS2
    GTEST_SKIP() << "not checked under qemu-user 7.2: without termios2 a rate of 250000 baud "
                    "cannot be set";
#endif
    DCB dcb{};
    ASSERT_TRUE(GetCommState(port, &dcb));
    dcb.BaudRate = 250000; // not a standard rate
    dcb.fOutX = dcb.fInX = 1;
    ASSERT_TRUE(SetCommState(port, &dcb)); // DTR/RTS on a pty are no error
    DCB back{};
    ASSERT_TRUE(GetCommState(port, &back));
    EXPECT_EQ(back.BaudRate, 250000u);
    EXPECT_EQ(back.fOutX, 1u);
    EXPECT_EQ(back.fInX, 1u);

    // What every reader of the terminal sees (stty, the C library): a standard rate by its own
    // speed code, another one as "other"; two stop bits and RTS/CTS as set.
    const auto seen = [&] {
        termios t{};
        EXPECT_EQ(tcgetattr(pty.Master(), &t), 0);
        return t;
    };
    const termios other = seen();
    EXPECT_EQ(cfgetospeed(&other), static_cast<speed_t>(0010000)) << "BOTHER";
    for (const auto& [rate, code] :
         {std::pair{19200u, B19200}, {300u, B300}, {4000000u, B4000000}}) {
        dcb.BaudRate = rate;
        dcb.StopBits = TWOSTOPBITS;
        dcb.fOutxCtsFlow = 1;
        dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
        ASSERT_TRUE(SetCommState(port, &dcb)) << rate;
        const termios t = seen();
        EXPECT_EQ(cfgetospeed(&t), code) << rate;
        EXPECT_EQ(cfgetispeed(&t), code) << rate;
        EXPECT_TRUE(t.c_cflag & CSTOPB);
        EXPECT_TRUE(t.c_cflag & CRTSCTS);
        ASSERT_TRUE(GetCommState(port, &back));
        EXPECT_EQ(back.BaudRate, rate);
        EXPECT_EQ(back.StopBits, TWOSTOPBITS);
        EXPECT_EQ(back.fOutxCtsFlow, 1u);
    }

    struct Bad {
        const char* what;
        void (*spoil)(DCB&);
    } bad[] = {
        {"zero baud", [](DCB& d) { d.BaudRate = 0; }},
        {"nine data bits", [](DCB& d) { d.ByteSize = 9; }},
        {"parity 5", [](DCB& d) { d.Parity = 5; }},
        {"1.5 stop bits with 8 data bits", [](DCB& d) { d.StopBits = ONE5STOPBITS; }},
        {"RTS toggle", [](DCB& d) { d.fRtsControl = RTS_CONTROL_TOGGLE; }},
    };
    for (const Bad& b : bad) {
        DCB spoilt = back;
        b.spoil(spoilt);
        EXPECT_FALSE(SetCommState(port, &spoilt)) << b.what;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER) << b.what;
    }
    DWORD bits = 0;
    EXPECT_FALSE(GetCommModemStatus(port, &bits)); // a pty has no modem lines
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
}

TEST_F(PtyPort, PurgeDropsQueuedInput) {
    ASSERT_TRUE(pty.Send("stale"));
    COMSTAT stat{};
    ASSERT_TRUE(
        WaitUntil([&] { return ClearCommError(port, nullptr, &stat) && stat.cbInQue == 5; }, 2s));
    ASSERT_TRUE(PurgeComm(port, PURGE_RXCLEAR | PURGE_TXCLEAR));
    ASSERT_TRUE(ClearCommError(port, nullptr, &stat));
    EXPECT_EQ(stat.cbInQue, 0u);
    EXPECT_FALSE(PurgeComm(port, 0x10));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(FlushFileBuffers(port));
}

TEST_F(PtyPort, WithoutModemLinesDtrAndRtsFailButBreaksAndDataGoOn) {
    for (DWORD func : {SETDTR, CLRDTR, SETRTS, CLRRTS}) {
        EXPECT_FALSE(EscapeCommFunction(port, func)) << func;
        EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED) << func;
    }
    EXPECT_TRUE(SetCommBreak(port) || kEmulated);
    EXPECT_TRUE(ClearCommBreak(port) || kEmulated);
    DCB dcb{};
    EXPECT_TRUE(GetCommState(port, &dcb));
    EXPECT_TRUE(SetCommState(port, &dcb));
    DWORD n = 0;
    ASSERT_TRUE(WriteFile(port, "still", 5, &n, &ov));
    EXPECT_EQ(pty.Receive(5, 2s), "still");
    ASSERT_TRUE(pty.Send("here"));
    SetTimeouts(0, 0, 2000);
    char buf[8] = {};
    if (!ReadFile(port, buf, 4, &n, &ov))
        n = Result();
    EXPECT_EQ(std::string(buf, n), "here");
}

TEST_F(PtyPort, CloseEndsPendingOperations) {
    SetTimeouts(0, 0, 0);
    char buf[4];
    DWORD n = 0;
    ASSERT_FALSE(ReadFile(port, buf, 4, &n, &ov));
    ASSERT_TRUE(CloseHandle(port));
    port = INVALID_HANDLE_VALUE;
    BOOL ok = TRUE;
    Result(&ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
}

TEST_F(PtyPort, HangUpAbortsPendingWorkRefusesLaterCallsAndDoesNotSpin) {
    SetTimeouts(0, 0, 0);
    ASSERT_TRUE(SetCommMask(port, EV_RXCHAR));
    char buf[4];
    DWORD n = 0, events = 0;
    OVERLAPPED waitOv{};
    ASSERT_FALSE(ReadFile(port, buf, 4, &n, &ov));
    ASSERT_FALSE(WaitCommEvent(port, &events, &waitOv));
    pty.HangUp();

    BOOL ok = TRUE;
    Result(&ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
    EXPECT_FALSE(GetOverlappedResult(port, &waitOv, &n, TRUE));
    EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);

    // The worker sleeps: over a quarter second the process burns next to no CPU.
    timespec start{}, end{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &start);
    HANDLE never = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_EQ(WaitForSingleObject(never, 250), WAIT_TIMEOUT);
    CloseHandle(never);
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &end);
    double cpu = static_cast<double>(end.tv_sec - start.tv_sec) +
                 static_cast<double>(end.tv_nsec - start.tv_nsec) / 1e9;
    EXPECT_LT(cpu, 0.05);

    COMSTAT stat{};
    EXPECT_FALSE(ClearCommError(port, nullptr, &stat));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(WriteFile(port, "a", 1, &n, &ov));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(FlushFileBuffers(port));
    EXPECT_FALSE(PurgeComm(port, PURGE_RXCLEAR));
    EXPECT_TRUE(CloseHandle(port));
    port = INVALID_HANDLE_VALUE;
    EXPECT_EQ(OpenPort("COM9"), INVALID_HANDLE_VALUE);
}

TEST_F(PtyPort, HangUpKeepsWhatTheDeviceSentBeforeReadable) {
    SetTimeouts(0, 0, 100);
    // The character event tells that the port, not only the system, holds the bytes.
    ASSERT_TRUE(SetCommMask(port, EV_RXCHAR));
    ASSERT_TRUE(pty.Send("last words"));
    DWORD events = 0, n = 0;
    OVERLAPPED waitOv{};
    if (!WaitCommEvent(port, &events, &waitOv)) {
        ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
        ASSERT_TRUE(GetOverlappedResult(port, &waitOv, &n, TRUE));
    }
    EXPECT_EQ(events, EV_RXCHAR);
    COMSTAT stat{};
    ASSERT_TRUE(
        WaitUntil([&] { return ClearCommError(port, nullptr, &stat) && stat.cbInQue == 10; }, 2s));
    pty.HangUp();
    ASSERT_TRUE(WaitUntil(
        [&] { return !WriteFile(port, "x", 1, &n, &ov) && GetLastError() == ERROR_ACCESS_DENIED; },
        2s));
    ASSERT_TRUE(ClearCommError(port, nullptr, &stat));
    EXPECT_EQ(stat.cbInQue, 10u);
    char buf[64] = {};
    ASSERT_TRUE(ReadFile(port, buf, sizeof buf, &n, &ov));
    EXPECT_EQ(std::string(buf, n), "last words");
    EXPECT_FALSE(ClearCommError(port, nullptr, &stat));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(ReadFile(port, buf, sizeof buf, &n, &ov));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

} // namespace
