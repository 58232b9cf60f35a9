// Left alone with RECONNECT: the link comes back by itself after the server restarts or the
// device returns, the side that stayed up stays up, the device's bytes wait for the server and
// arrive once and in order, and the user's 关闭 ends every retry.
#include "fault/FaultRig.h"
#include "support/FileText.h"

#include <QElapsedTimer>

#include <filesystem>
#include <optional>

namespace fault {
namespace {

namespace fs = std::filesystem;
using testing_support::LoopbackServer;
using testing_support::PtyPair;

class ReconnectTest : public FaultTest {
protected:
    void SetUp() override {
        FaultTest::SetUp();
        Set("SYSTEM", "RECONNECT", "2");
    }
    // Waits, pumping, for the server to take a connection; how long that took, or -1.
    qint64 AcceptWhilePumping(LoopbackServer& to, int ms) {
        QElapsedTimer t;
        t.start();
        return Until([&] { return to.Accept(10ms); }, ms) ? t.elapsed() : -1;
    }
    bool Retrying(const CString& status, const char* what) {
        return status.Str().rfind(what, 0) == 0;
    }
    // The day's events file.
    static std::string Events() {
        SYSTEMTIME st{};
        GetLocalTime(&st);
        char name[32];
        std::snprintf(name, sizeof name, "%04u-%02u-%02u.events.log", st.wYear, st.wMonth, st.wDay);
        return testing_support::ReadFile(name);
    }
    // The device sends the next n bytes of its stream.
    void DeviceSends(std::size_t n) {
        const std::string block = Pattern(sent.size(), n);
        ASSERT_TRUE(device.Send(block));
        sent += block;
    }
    std::string sent;
};

TEST_F(ReconnectTest, ServerRestartsWhileTheDeviceSendsAndEveryByteArrivesOnceInOrder) {
    StartLinked();
    const std::uint16_t port = server.Port();
    DeviceSends(3000);
    std::string got = ServerReceives(3000);
    server.CloseClient();
    server.StopListening();
    std::optional<LoopbackServer> back;
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        // The server is away: the port stays open and the device's bytes wait for it.
        ASSERT_TRUE(Until([&] { return Retrying(dlg->m_strNetStatus, "重连服务器"); }));
        EXPECT_EQ(dlg->m_strComStatus, "串口COM3已打开");
        EXPECT_EQ(Caption(), "关闭");
        DeviceSends(2000);
        ASSERT_TRUE(Until([&] { return g_nComBytes == static_cast<std::int64_t>(sent.size()); }));
        EXPECT_TRUE(Until([&] {
            return dlg->GetDlgItem(IDC_STATIC_NETSTATUS)->GetToolTipText().find("wait for") !=
                   std::string::npos;
        }));

        // Back on the same port: taken within the bound and a second, held bytes first.
        back.emplace(port);
        const qint64 ms = AcceptWhilePumping(*back, 5000);
        RecordProperty(("reconnect_ms_" + std::to_string(round)).c_str(), static_cast<int>(ms));
        ASSERT_GE(ms, 0);
        EXPECT_LE(ms, 3000 + 500);
        DeviceSends(500);
        got += testing_support::ReceiveWhilePumping(*back, sent.size() - got.size());
        ASSERT_EQ(got.size(), sent.size());
        EXPECT_TRUE(Until([&] { return dlg->m_strNetStatus == "已连接服务器"; }));
        EXPECT_NE(dlg->GetDlgItem(IDC_STATIC_NETSTATUS)->GetToolTipText().find("Last outage"),
                  std::string::npos);
        // Gracefully, then abortively, then gracefully again.
        if (round % 2 == 0)
            back->CloseClient();
        else
            back->ResetClient();
        back.reset();
    }
    EXPECT_TRUE(got == sent) << "the stream came out changed, doubled or out of order";
    // Each drop and each return is one line of the day's events file.
    const std::string events = Events();
    EXPECT_EQ(testing_support::CountOf(events, " dropped: "), 3u) << events;
    EXPECT_EQ(testing_support::CountOf(events, " back after "), 3u) << events;
}

TEST_F(ReconnectTest, DeviceThatReturnsBehindItsNameIsOpenedWithinASecond) {
    const fs::path link = fs::current_path() / "device";
    std::optional<PtyPair> plugged(std::in_place);
    Set("Ports", "COM3", link.string());
    // Absent at Open: the link counts as open and the device is looked for.
    Start();
    Press(IDC_BUTTON_OPEN);
    ASSERT_TRUE(server.Accept(5s));
    EXPECT_EQ(Caption(), "关闭");
    ASSERT_TRUE(Until([&] { return Retrying(dlg->m_strComStatus, "重连串口"); }));
    EXPECT_EQ(dlg->m_strComStatus, "重连串口 第1次");
    fs::create_symlink(plugged->SlavePath(), link);
    ASSERT_TRUE(Until([&] { return dlg->m_strComStatus == "串口COM3已打开"; }));
    ASSERT_TRUE(plugged->Send("a"));
    EXPECT_EQ(ServerReceives(1), "a");

    // Unplugged: the port closes and the name is looked for; the server stays connected.
    plugged.reset();
    fs::remove(link);
    ASSERT_TRUE(Until([&] { return Retrying(dlg->m_strComStatus, "重连串口"); }));
    EXPECT_EQ(dlg->m_strNetStatus, "已连接服务器");
    ASSERT_TRUE(server.Send("xy"));
    EXPECT_TRUE(Until([&] {
        return dlg->GetDlgItem(IDC_STATIC_COMSTATUS)
                   ->GetToolTipText()
                   .find("2 bytes from the "
                         "server") != std::string::npos;
    }));

    // Plugged in again behind the same name.
    plugged.emplace();
    fs::create_symlink(plugged->SlavePath(), link);
    QElapsedTimer t;
    t.start();
    ASSERT_TRUE(Until([&] { return dlg->m_strComStatus == "串口COM3已打开"; }, 5000));
    RecordProperty("device_back_ms", static_cast<int>(t.elapsed()));
    EXPECT_LE(t.elapsed(), 1000 + 2 * RETRY_TICK_MS);
    ASSERT_TRUE(plugged->Send("b"));
    EXPECT_EQ(ServerReceives(1), "b");
    ASSERT_TRUE(server.Send("zz"));
    EXPECT_EQ(testing_support::ReceiveWhilePumping(*plugged, 2), "zz");
}

TEST_F(ReconnectTest, AutoOpenKeepsTryingAndCloseEndsEveryRetry) {
    const std::uint16_t port = server.Port();
    server.StopListening();
    Set("SYSTEM", "AUTOOPEN", "1");
    Start();
    // Opened by itself; the server is not there, so it is retried while the port stays open.
    ASSERT_TRUE(Until([&] { return Retrying(dlg->m_strNetStatus, "重连服务器"); }));
    EXPECT_EQ(dlg->m_strComStatus, "串口COM3已打开");
    std::optional<LoopbackServer> back(std::in_place, port);
    ASSERT_GE(AcceptWhilePumping(*back, 5000), 0);
    EXPECT_TRUE(Until([&] { return dlg->m_strNetStatus == "已连接服务器"; }));

    // The server goes again; 关闭 during the retries: nothing opens afterwards.
    back->CloseClient();
    back.reset();
    ASSERT_TRUE(Until([&] { return Retrying(dlg->m_strNetStatus, "重连服务器"); }));
    Press(IDC_BUTTON_OPEN);
    EXPECT_EQ(Caption(), "打开");
    EXPECT_EQ(dlg->m_strNetStatus, "已断开服务器");
    EXPECT_EQ(dlg->m_strComStatus, "串口已关闭");
    back.emplace(port);
    EXPECT_EQ(AcceptWhilePumping(*back, 3000), -1);
    EXPECT_FALSE(dlg->IsTimerRunning(TIMER_RETRY));
}

TEST_F(ReconnectTest, AServerThatResetsAtOnceIsTriedAgainOnlyAfterAPause) {
    StartLinked();
    server.ResetClient();
    int accepted = 0;
    QElapsedTimer t;
    t.start();
    Until(
        [&] {
            if (server.Accept(10ms)) {
                ++accepted;
                server.ResetClient();
            }
            return t.elapsed() >= 3500;
        },
        5000);
    // An attempt a second at the most: 1 s after each drop.
    EXPECT_GE(accepted, 2);
    EXPECT_LE(accepted, 4);
    EXPECT_EQ(dlg->m_strComStatus, "串口COM3已打开");
}

// A server whose answer takes longer than a tick (its first SYN is lost on the way) is taken back
// by the attempt under way, not given up at the first look; the retry is counted from 1 and the
// events file gives the outage in seconds.
TEST_F(ReconnectTest, AServerThatTakesLongToAnswerIsReconnectedByTheFirstAttempt) {
    NamespacedServer far;
    ASSERT_NO_FATAL_FAILURE(StartLinkedTo(far));
    far.CloseClient();
    ASSERT_TRUE(Until([&] { return Retrying(dlg->m_strNetStatus, "重连服务器"); }));
    const CString firstRetry = dlg->m_strNetStatus;
    // The first attempt comes 1 s after the drop; its SYN is lost, the system sends it again
    // about a second later, by when the path is back.
    ASSERT_TRUE(far.CutPath());
    Watch(1400ms);
    ASSERT_TRUE(far.RestorePath());
    CString retries;
    ASSERT_TRUE(Until(
        [&] {
            if (dlg->m_strNetStatus != firstRetry && retries.IsEmpty())
                retries = dlg->m_strNetStatus;
            return far.Accept(10ms);
        },
        8000));
    EXPECT_EQ(firstRetry, "重连服务器 第1次");
    EXPECT_TRUE(retries.IsEmpty() || retries == "已连接服务器")
        << "the attempt under way was given up: " << retries.Str();
    EXPECT_TRUE(Until([&] { return dlg->m_strNetStatus == "已连接服务器"; }));
    const std::string events = Events();
    const auto back = events.find("server back after ");
    ASSERT_NE(back, std::string::npos) << events;
    EXPECT_LE(std::stoi(events.substr(back + 18)), 5) << events;
}

// A path that dies silently while the device streams: found by the socket's own probes, the
// device's bytes wait meanwhile, and once the path is back what the server had not acknowledged
// goes again first. A byte arrives twice only where its acknowledgement was lost in the cut.
TEST_F(ReconnectTest, PathThatDiesSilentlyComesBackWithoutLosingADeviceByte) {
    NamespacedServer far;
    ASSERT_NO_FATAL_FAILURE(StartLinkedTo(far));
    std::string got;
    QElapsedTimer streaming;
    streaming.start();
    auto feed = [&] {
        if (DeviceBlockDue(streaming, sent.size()))
            DeviceSends(64);
        got += far.Take();
    };
    ASSERT_TRUE(Until([&] { return feed(), got.size() >= 1024; }, 10000));

    ASSERT_TRUE(far.CutPath());
    QElapsedTimer t;
    t.start();
    ASSERT_TRUE(Until([&] { return feed(), Retrying(dlg->m_strNetStatus, "重连服务器"); }, 60000));
    RecordProperty("dead_path_found_ms", static_cast<int>(t.elapsed()));
    for (int i = 0; i < 8; ++i)
        feed(); // held for the server while it is away
    EXPECT_EQ(dlg->m_strComStatus, "串口COM3已打开");

    ASSERT_TRUE(far.RestorePath());
    t.restart();
    ASSERT_TRUE(Until([&] { return far.Accept(10ms); }, 15000));
    RecordProperty("path_back_reconnect_ms", static_cast<int>(t.elapsed()));
    const std::string before = got;
    got.clear();
    ASSERT_TRUE(Until([&] { return g_nComBytes == static_cast<std::int64_t>(sent.size()); }));
    ASSERT_TRUE(Until(
        [&] {
            got += far.Take();
            return got.size() >= 64 &&
                   got.compare(got.size() - 64, 64, sent, sent.size() - 64) == 0;
        },
        10000));
    // The new connection starts at or before where the old one's bytes ended, and runs on to the
    // end without a gap.
    ASSERT_TRUE(before == sent.substr(0, before.size()));
    ASSERT_LE(got.size(), sent.size());
    const std::size_t from = sent.size() - got.size();
    EXPECT_LE(from, before.size()) << "bytes were lost across the cut";
    EXPECT_TRUE(got == sent.substr(from)) << "the new connection's bytes are not the stream's";
    RecordProperty("bytes_sent_twice",
                   static_cast<int>(before.size() - std::min(from, before.size())));
    EXPECT_TRUE(Until([&] { return dlg->m_strNetStatus == "已连接服务器"; }));
    // The tooltip keeps the outage: what was held and what went again, nothing dropped.
    const std::string tip = dlg->GetDlgItem(IDC_STATIC_NETSTATUS)->GetToolTipText();
    const auto outage = tip.find("Last outage");
    ASSERT_NE(outage, std::string::npos) << tip;
    RecordProperty("last_outage", tip.substr(outage));
    EXPECT_NE(tip.find(", 0 bytes dropped"), std::string::npos) << tip;
}

} // namespace
} // namespace fault
