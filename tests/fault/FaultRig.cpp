#include "fault/FaultRig.h"
#include "support/FileText.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
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
    BridgeRig::SetUp();
    ASSERT_EQ(AfxGetApp(), &theApp);
    ASSERT_NO_FATAL_FAILURE(NameLink());
    // The fast-mode run of these tests (see CMakeLists.txt) turns it on for every window.
    if (const char* fast = std::getenv("VARNEL_FAULT_FAST"))
        Set("SYSTEM", "FAST", fast);
}

void FaultTest::TearDown() {
    ticks.Stop();
    BridgeRig::TearDown();
}

void FaultTest::Start() {
    BridgeRig::Start();
    ticks.Start();
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

void FaultTest::Watch(std::chrono::milliseconds span) {
    const auto end = std::chrono::steady_clock::now() + span;
    Until([&] { return std::chrono::steady_clock::now() >= end; },
          static_cast<int>(span.count()) + 1000);
}

std::size_t FaultTest::LoggedEntries(const std::string& logName, const std::string& direction) {
    if (!std::filesystem::is_regular_file(logName))
        return 0;
    return testing_support::CountOf(testing_support::ReadFile(logName),
                                    "bytes data from " + direction);
}

} // namespace fault
