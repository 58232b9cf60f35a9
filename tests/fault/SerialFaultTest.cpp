// Faults on the serial side: a device that hangs up in the middle of a write or while idle and
// comes back under the same name, and a device that sends as fast as the line lets it.
#include "fault/FaultRig.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace fault {
namespace {

using testing_support::PtyPair;
using Clock = std::chrono::steady_clock;

class SerialFaultTest : public FaultTest {
protected:
    // The device went away; a new one appears under the same port name, and the user closes
    // and opens the link. Both directions then work with the new device.
    // The status line keeps its text, but turns to the error colour and says in its tooltip what
    // happened and what to do, until the next open.
    void ComesBackUnderTheSameName() {
        CWnd* status = dlg->GetDlgItem(IDC_STATIC_COMSTATUS);
        ASSERT_TRUE(Until([&] { return status->HasErrorColour(); }));
        const std::string cue = status->GetToolTipText();
        const std::string removed = device.SlavePath() + " was removed at ";
        EXPECT_EQ(cue.rfind(removed, 0), 0u) << cue;
        EXPECT_EQ(cue.substr(std::min(cue.size(), removed.size() + 8)),
                  "; press 关闭, then 打开 once it is back");
        EXPECT_EQ(dlg->m_strComStatus, "串口COM3已打开");
        EXPECT_EQ(Caption(), "关闭");

        PtyPair back;
        ASSERT_TRUE(back.Ok());
        Set("Ports", "COM3", back.SlavePath());
        Press(IDC_BUTTON_OPEN);
        EXPECT_EQ(dlg->m_strNetStatus, "已断开服务器");
        EXPECT_EQ(dlg->m_strComStatus, "串口已关闭");
        // The cue stays while the user follows it: colour and explanation both.
        EXPECT_TRUE(status->HasErrorColour());
        EXPECT_EQ(status->GetToolTipText(), cue);
        Press(IDC_BUTTON_OPEN);
        EXPECT_FALSE(status->HasErrorColour());
        EXPECT_EQ(status->GetToolTipText(), "COM3: " + back.SlavePath() + "\n115200 8N1");
        ASSERT_TRUE(server.Accept(5s));
        EXPECT_EQ(dlg->m_strNetStatus, "已连接服务器");
        EXPECT_EQ(dlg->m_strComStatus, "串口COM3已打开");
        ASSERT_TRUE(back.Send("from the new device"));
        EXPECT_EQ(ServerReceives(19), "from the new device");
        ASSERT_TRUE(server.Send("to it"));
        std::string got;
        Until([&] {
            got += back.Receive(5 - got.size(), 1ms);
            return got.size() >= 5;
        });
        EXPECT_EQ(got, "to it");
    }
};

TEST_F(SerialFaultTest, DeviceThatHoldsOffHoldsTheServerBackAndMayHangUpMidBurst) {
    StartLinked();
    // The device stops reading, so the pty fills, then the bridge's queue for the device; the
    // server keeps sending meanwhile: more than the pty and the queue hold.
    constexpr std::size_t kTotal = 3 * CDeviceQueue::LIMIT + (64 << 10);
    std::thread sender([&] { server.Send(Pattern(0, kTotal)); });
    const auto tip = [&] { return dlg->GetDlgItem(IDC_STATIC_COMSTATUS)->GetToolTipText(); };
    const bool told =
        Until([&] { return tip().find("has taken no bytes since") != std::string::npos; }, 15000);
    // The window never waited for the device; the server was held back, nothing dropped.
    EXPECT_TRUE(told) << tip();
    EXPECT_LT(ticks.LongestGapMs(), kResponsiveMs);
    EXPECT_LT(g_nTcpBytes, static_cast<std::int64_t>(kTotal));
    EXPECT_EQ(dlg->m_strComStatus, "串口COM3已打开");

    // The device hangs up mid-burst: what the server sent goes on being taken, shown and
    // counted; the writes fail unseen.
    device.HangUp();
    ticks.Start();
    const bool taken =
        Until([] { return g_nTcpBytes == static_cast<std::int64_t>(kTotal); }, 20000);
    if (!taken)
        Press(IDC_BUTTON_OPEN); // ends the server's sends, so that the sender can be joined
    sender.join();
    ASSERT_TRUE(taken) << g_nTcpBytes;
    EXPECT_LT(ticks.LongestGapMs(), kResponsiveMs);
    EXPECT_EQ(dlg->m_strTcpCount, "TCP: " + std::to_string(kTotal));
    EXPECT_EQ(dlg->m_strNetStatus, "已连接服务器");
    EXPECT_EQ(dlg->m_strComStatus, "串口COM3已打开");
    EXPECT_EQ(Caption(), "关闭");

    ComesBackUnderTheSameName();
}

TEST_F(SerialFaultTest, DeviceThatReadsLateGetsEveryBlockWritten) {
    StartLinked();
    // Four blocks go out while the device reads nothing; the purge before each block must not
    // take back what the previous blocks delivered to the line.
    std::string sent;
    for (int i = 0; i < 4; ++i) {
        const std::string block = Pattern(static_cast<std::uint64_t>(i) * 3000, 3000);
        ASSERT_TRUE(server.Send(block));
        sent += block;
        ASSERT_TRUE(Until([&] { return g_nTcpBytes == static_cast<std::int64_t>(sent.size()); }));
    }
    const std::string got = device.Drain(200ms);
    EXPECT_EQ(got.size(), sent.size());
    EXPECT_TRUE(got == sent) << "the device got altered bytes";
    EXPECT_LT(ticks.LongestGapMs(), kResponsiveMs);
}

TEST_F(SerialFaultTest, DeviceHangsUpWhileIdle) {
    StartLinked();
    // Its last words reached the port just before it went: they still reach the server.
    // No tick runs meanwhile: the test holds the window's thread until the hang-up. The
    // character event tells that the port, not only the system, holds the bytes.
    ASSERT_EQ(g_serial.SetMask(CSerial::eventRxChar), 0);
    ASSERT_TRUE(device.Send("before"));
    ASSERT_EQ(g_serial.WaitEvent(nullptr, 5000), 0);
    ASSERT_TRUE(testing_support::WaitUntil([&] { return dlg->SerialBytesHeld() == 6; }, 5s));
    device.HangUp();
    EXPECT_EQ(ServerReceives(6), "before");
    Watch(500ms);
    ASSERT_TRUE(server.Send("ab"));
    EXPECT_TRUE(Until([] { return g_nTcpBytes == 2; }));
    Watch(300ms);
    EXPECT_LT(ticks.LongestGapMs(), kResponsiveMs);
    EXPECT_EQ(dlg->m_strNetStatus, "已连接服务器");
    EXPECT_EQ(dlg->m_strComStatus, "串口COM3已打开");
    EXPECT_EQ(g_nComBytes, 6);

    ComesBackUnderTheSameName();
}

TEST_F(SerialFaultTest, BothSidesTalkingAtOnceLoseNothingEitherWay) {
    StartLinked();
    // The device reports steadily while the server sends blocks of 64 to 512 bytes: every block
    // from the server used to cost the device whatever it had sent since the last serial poll.
    constexpr std::size_t kFromDevice = 48 << 10, kFromServer = 24 << 10;
    const std::string fromDevice = Pattern(0, kFromDevice);
    const std::string fromServer = Pattern(std::uint64_t{1} << 32, kFromServer);
    DeviceReader reader(device.Master());
    std::thread sending([&] {
        for (std::size_t at = 0; at < kFromDevice; at += 256) {
            device.Send(fromDevice.substr(at, 256));
            std::this_thread::sleep_for(15ms); // the device's pace, not a wait for a result
        }
    });
    std::thread peer([&] {
        for (std::size_t at = 0, i = 0; at < kFromServer; ++i) {
            const std::size_t n = std::min<std::size_t>(64 + (i * 97) % 449, kFromServer - at);
            server.Send(fromServer.substr(at, n));
            at += n;
            std::this_thread::sleep_for(40ms); // the server's pace
        }
    });
    const std::string got = ServerReceives(kFromDevice, 60000);
    sending.join();
    peer.join();
    EXPECT_TRUE(Until([&] { return reader.Size() >= kFromServer; }, 20000));
    EXPECT_EQ(got.size(), kFromDevice);
    EXPECT_TRUE(got == fromDevice) << "the server got altered or reordered bytes";
    const std::string taken = reader.Taken();
    EXPECT_EQ(taken.size(), kFromServer);
    EXPECT_TRUE(taken == fromServer) << "the device got altered or reordered bytes";
    EXPECT_TRUE(Until([] { return g_nComBytes == static_cast<std::int64_t>(kFromDevice); }));
    EXPECT_EQ(g_nTcpBytes, static_cast<std::int64_t>(kFromServer));
}

TEST_F(SerialFaultTest, FastModeRepaintsAFloodOfSmallBlocksAtMostTenTimesASecond) {
    SetClockForTest([] { return SYSTEMTIME{2026, 12, 0, 6, 10, 14, 14, 0}; });
    Set("SYSTEM", "FAST", "1");
    StartLinked();
    // Every change of the counter's label on screen, seen between any two handlers.
    CWnd* counter = dlg->GetDlgItem(IDC_STATIC_COMCOUNT);
    std::string shown = counter->GetWindowText();
    int repaints = 0;
    QTimer sampler;
    sampler.setInterval(0);
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        if (std::string now = counter->GetWindowText(); now != shown) {
            shown = now;
            ++repaints;
        }
    });
    sampler.start();
    QElapsedTimer clock;
    clock.start();

    // Small blocks with quiet gaps between them, far more than ten a second.
    constexpr std::size_t kBlocks = 300, kSize = 16;
    std::thread sending([&] {
        for (std::size_t i = 0; i < kBlocks; ++i) {
            device.Send(Pattern(i * kSize, kSize));
            std::this_thread::sleep_for(3ms); // the device's pace
        }
    });
    const std::string got = ServerReceives(kBlocks * kSize, 30000);
    sending.join();
    EXPECT_TRUE(got == Pattern(0, kBlocks * kSize)) << "the server got altered bytes";
    // The last news is shown too, without another block to bring it.
    EXPECT_TRUE(Until([&] { return shown == "COM: " + std::to_string(kBlocks * kSize); }));
    const qint64 elapsed = clock.elapsed();
    sampler.stop();

    const std::size_t blocks = LoggedEntries("2026-12-06.log", "SPP(COM)");
    EXPECT_GE(blocks, kBlocks / 4) << "too few blocks to load the window";
    EXPECT_LE(repaints, elapsed / 100 + 2) << blocks << " blocks in " << elapsed << " ms";
}

TEST_F(SerialFaultTest, UnpacedFloodFromTheDeviceReachesTheServerWhole) {
    StartLinked();
    constexpr std::size_t kTotal = 128 << 10;
    const std::string stream = Pattern(0, kTotal);
    std::atomic<bool> stop{false};
    std::atomic<bool> wrote{false};
    std::thread sending([&] {
        std::size_t done = 0;
        while (done < stream.size() && !stop) {
            ssize_t n = ::write(device.Master(), stream.data() + done, stream.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                return;
            } else {
                pollfd p{device.Master(), POLLOUT, 0};
                ::poll(&p, 1, 10);
            }
        }
        wrote = done == stream.size();
    });
    const std::string got = ServerReceives(kTotal, 60000);
    stop = true;
    sending.join();
    EXPECT_TRUE(wrote);
    RecordProperty("serial_flood_longest_gap_ms", static_cast<int>(ticks.LongestGapMs()));
    EXPECT_LT(ticks.LongestGapMs(), kResponsiveMs);
    ASSERT_EQ(got.size(), kTotal);
    EXPECT_TRUE(got == stream) << "the server got altered bytes";
    EXPECT_TRUE(Until([] { return g_nComBytes == static_cast<std::int64_t>(kTotal); }));
    EXPECT_EQ(dlg->m_strComCount, "COM: " + std::to_string(kTotal));
}

} // namespace
} // namespace fault
