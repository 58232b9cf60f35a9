#include "fault/FaultRig.h"
#include "support/BridgeWindow.h"
#include "support/Gather.h"

#include <cstdlib>

#include <QTest>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <unistd.h>

namespace fault {

TickWatch::TickWatch() {
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
        longest_ = std::max(longest_, since_.restart());
        ++beats_;
    });
}

void TickWatch::Start() {
    longest_ = 0;
    since_.start();
    timer_.start(10);
}

qint64 TickWatch::LongestGapMs() const {
    return timer_.isActive() ? std::max(longest_, since_.elapsed()) : longest_;
}

DeviceReader::DeviceReader(int master) : master_(master) {
    thread_ = std::thread([this] {
        char buf[65536];
        while (!stop_) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 10) <= 0 || !(p.revents & POLLIN))
                continue;
            ssize_t n = ::read(master_, buf, sizeof buf);
            if (n > 0) {
                std::lock_guard lock(mutex_);
                got_.append(buf, static_cast<std::size_t>(n));
            }
        }
    });
}

DeviceReader::~DeviceReader() {
    stop_ = true;
    thread_.join();
}

std::string DeviceReader::Taken() {
    std::lock_guard lock(mutex_);
    return got_;
}

std::size_t DeviceReader::Size() {
    std::lock_guard lock(mutex_);
    return got_.size();
}

void FaultTest::SetUp() {
    EnsureQtApp();
    ASSERT_EQ(AfxGetApp(), &theApp); // also links the application object in
    ASSERT_TRUE(pty.Ok());
    ASSERT_TRUE(server.Listening());
    g_nComBytes = g_nTcpBytes = 0;
    testing_support::SetLinkSettings(pty.SlavePath(), server.Port());
    // The fast-mode run of these tests (see CMakeLists.txt) turns it on for every window.
    if (const char* fast = std::getenv("VARNEL_FAULT_FAST"))
        Set("SYSTEM", "FAST", fast);
    SetMessageBoxAnswererForTest([](const MessageBoxCall&) { return IDYES; });
}

void FaultTest::TearDown() {
    ticks.Stop();
    dlg.reset();
    testing_support::ReleaseLink();
    SetClockForTest(nullptr);
    SetMessageBoxAnswererForTest(nullptr);
}

void FaultTest::Set(const char* section, const char* key, const std::string& value) {
    testing_support::SetSetting(section, key, value);
}

void FaultTest::Start() {
    dlg = std::make_unique<CVarnelDlg>();
    ASSERT_TRUE(dlg->Create());
    ticks.Start();
}

void FaultTest::StartLinked() {
    Start();
    Press(IDC_BUTTON_OPEN);
    ASSERT_TRUE(server.Accept(5s));
    ASSERT_EQ(dlg->m_strNetStatus, "已连接服务器");
    ASSERT_EQ(dlg->m_strComStatus, "串口COM3已打开");
}

void FaultTest::StartLinkedTo(NamespacedServer& far) {
    ASSERT_EQ(far.Problem(), "");
    Set("Socket", "ServerIP", NamespacedServer::kAddress);
    Set("Socket", "PORT", std::to_string(far.Port()));
    Start();
    Press(IDC_BUTTON_OPEN);
    ASSERT_TRUE(far.Accept(5s));
    ASSERT_EQ(dlg->m_strNetStatus, "已连接服务器");
}

void FaultTest::Press(int id) {
    QWidget* w = afx::WidgetOf(dlg->GetDlgItem(id));
    QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(8, w->height() / 2));
}

void FaultTest::Watch(std::chrono::milliseconds span) {
    const auto end = std::chrono::steady_clock::now() + span;
    Until([&] { return std::chrono::steady_clock::now() >= end; },
          static_cast<int>(span.count()) + 1000);
}

std::string FaultTest::DeviceReceives(std::size_t count, int ms) {
    return testing_support::ReceiveWhilePumping(pty, count, ms);
}

std::string FaultTest::ServerReceives(std::size_t count, int ms) {
    return testing_support::ReceiveWhilePumping(server, count, ms);
}

std::size_t FaultTest::LoggedEntries(const std::string& logName, const std::string& direction) {
    if (!std::filesystem::is_regular_file(logName))
        return 0;
    std::ifstream in(logName, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), {}};
    const std::string what = "bytes data from " + direction;
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

} // namespace fault
