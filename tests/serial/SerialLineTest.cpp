// The scenarios of the serial port object that hold on every platform, on a real line: bytes both
// ways, the caller's overlapped records, a read that ends on a quiet gap and one cancelled in the
// middle of a burst, the read time-out and the purges. Where a platform's line differs, the
// scenario asks the suite's allowances (SerialLine.h) and checks what holds there.
#include "SerialLine.h"

namespace serial_line {
namespace {

using testing_support::WaitUntil;

constexpr CSerial::LONG kTimeout = 1460; // ERROR_TIMEOUT: the caller's own wait ran out

TEST_F(SerialLineTest, EveryByteValueBothWaysNothingLost) {
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

TEST_F(SerialLineTest, OverlappedReadPendsUntilTheDeviceSends) {
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
    EXPECT_EQ(device_.Receive(5, 5s), "world");
    comm::CloseHandle(ov.hEvent);
}

TEST_F(SerialLineTest, AReadWithAGapTakesOneBurstAndACancelledOneKeepsItsBytes) {
    EXPECT_EQ(serial_.SetupReadGap(0), comm::E_INVALIDARG);
    ASSERT_EQ(serial_.SetupReadGap(20), 0);
    comm::OVERLAPPED ov{};
    ov.hEvent = comm::CreateEventA(nullptr, comm::TRUE, comm::FALSE, nullptr);
    CSerial::DWORD n = 99;
    char burst[64] = {};
    // Nothing came: the read waits however long that takes.
    ASSERT_EQ(serial_.Read(burst, sizeof burst, &n, &ov, 0), 0);
    EXPECT_EQ(serial_.FinishTransfer(&ov, &n, false), comm::ERROR_IO_INCOMPLETE);
    EXPECT_EQ(comm::WaitForSingleObject(ov.hEvent, 100), comm::WAIT_TIMEOUT);
    // Once the device has been quiet that long, the read ends: it takes one burst.
    ASSERT_TRUE(device_.Send("one burst"));
    ASSERT_EQ(comm::WaitForSingleObject(ov.hEvent, 5000), comm::WAIT_OBJECT_0);
    EXPECT_EQ(serial_.FinishTransfer(&ov, &n, false), 0);
    EXPECT_EQ(std::string(burst, n), "one burst");

    // A read cancelled in the middle of a burst hands over what it took.
    ASSERT_EQ(serial_.SetupReadGap(60000), 0);
    ASSERT_TRUE(device_.Send("half"));
    ASSERT_TRUE(WaitUntil([&] { return serial_.GetInQueueCount() == 4; }, 5s));
    ASSERT_EQ(serial_.Read(burst, sizeof burst, &n, &ov, 0), 0);
    EXPECT_EQ(serial_.FinishTransfer(&ov, &n, true), comm::ERROR_OPERATION_ABORTED);
    std::string taken(burst, n);
    if (!kAllowances.cancelledReadMayLeaveBytesQueued) {
        EXPECT_EQ(taken, "half");
        EXPECT_EQ(serial_.GetInQueueCount(), 0u);
    }
    // What the read did not take is still queued: none is lost.
    const CSerial::DWORD queued = serial_.GetInQueueCount();
    ASSERT_EQ(serial_.Read(burst, queued, &n, nullptr, 1000), 0);
    taken.append(burst, n);
    EXPECT_EQ(taken, "half");
    comm::CloseHandle(ov.hEvent);
}

TEST_F(SerialLineTest, ReadTimeOutKeepsTheShortCount) {
    // A time-out keeps the bytes that had arrived: they are in the buffer and counted.
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

TEST_F(SerialLineTest, PurgesDropWhatWaitedAndKeepWhatCameAfter) {
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

} // namespace
} // namespace serial_line
