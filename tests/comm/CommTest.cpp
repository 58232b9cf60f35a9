#include "serial/comm/Comm.h"
#include "serial/comm/Faults.h"
#include "serial/comm/PortName.h"
#include "serial/comm/SimDevice.h"
#include "support/PtyPair.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace comm;
using namespace std::chrono_literals;
using testing_support::PtyPair;
using testing_support::ScopedPortName;
using testing_support::TempWorkDir;
using testing_support::WaitUntil;

namespace {

HANDLE OpenPort(const char* name) {
    return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OVERLAPPED, nullptr);
}

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

    TempWorkDir dir;
    PtyPair pty;
    ScopedPortName name{"COM9", pty.SlavePath()};
    HANDLE port = INVALID_HANDLE_VALUE;
    HANDLE event = nullptr;
    OVERLAPPED ov{};
};

TEST(PortNameTest, ResolvesOrRefuses) {
    TempWorkDir dir;
    ScopedPortName mapped("COM3", "/dev/ttyUSB7");
    const std::string tooLong(kMaxPortNameLength + 1, 'a');
    struct Case {
        const char* name;
        DWORD error;
        const char* path;
    } cases[] = {
        {"COM3", 0, "/dev/ttyUSB7"},
        {"com3", 0, "/dev/ttyUSB7"},
        {"COM1", 0, "/dev/ttyS0"},
        {"com12", 0, "/dev/ttyS11"},
        {"COM0", 0, "/dev/COM0"},
        {"COM01", 0, "/dev/COM01"},
        {"ttyUSB0", 0, "/dev/ttyUSB0"},
        {"", 2, ""},
        {"pts/0", 2, ""},
        {"/dev/ttyS0", 2, ""},
        {"..", 2, ""},
        {"a..b", 2, ""},
        {"tty\n", 2, ""},
        {tooLong.c_str(), 2, ""},
        {nullptr, 2, ""},
    };
    for (const Case& c : cases) {
        std::string path;
        EXPECT_EQ(ResolvePortName(c.name, path), c.error) << (c.name ? c.name : "(null)");
        EXPECT_EQ(path, c.path) << (c.name ? c.name : "(null)");
    }
}

TEST(OpenTest, RefusesWhatIsNoPortWithoutLeaking) {
    TempWorkDir dir;
    { std::ofstream("plain.txt") << "x"; }
    mkdir("folder", 0700);
    ScopedPortName file("COM5", dir.Path() + "/plain.txt");
    ScopedPortName folder("COM6", dir.Path() + "/folder");
    ScopedPortName missing("COM7", dir.Path() + "/nothing");
    ScopedPortName nonTty("COM8", "/dev/null");
    const int before = testing_support::OpenDescriptorCount();
    for (const char* name : {"COM5", "COM6", "COM7", "COM8", "ttyNoSuchDevice", "../null", ""}) {
        SetLastError(0);
        EXPECT_EQ(OpenPort(name), INVALID_HANDLE_VALUE) << name;
        EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND) << name;
    }
    EXPECT_EQ(testing_support::OpenDescriptorCount(), before);
}

TEST(OpenTest, IsExclusiveWithinAndAcrossProcesses) {
    TempWorkDir dir;
    PtyPair pty;
    ScopedPortName name("COM4", pty.SlavePath());
    HANDLE first = OpenPort("COM4");
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    EXPECT_EQ(OpenPort("COM4"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);

    pid_t child = fork();
    if (child == 0) {
        int fd = open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        bool refused = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
        _exit(refused ? 0 : 1);
    }
    int status = -1;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    EXPECT_TRUE(CloseHandle(first));
    HANDLE again = OpenPort("COM4");
    EXPECT_NE(again, INVALID_HANDLE_VALUE);
    CloseHandle(again);
}

TEST(HandleTest, StaleAndForeignHandlesFail) {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    DWORD mask = 0;
    EXPECT_FALSE(GetCommMask(event, &mask)); // an event is no port
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_TRUE(CloseHandle(event));
    EXPECT_FALSE(CloseHandle(event));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_FAILED);
    EXPECT_FALSE(GetCommModemStatus(nullptr, &mask));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

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
