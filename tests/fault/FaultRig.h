// The rig of the fault tests: the real main window on the offscreen platform, a pty standing for
// the serial device under COM3, a TCP server on 127.0.0.1, and a watch on the window's own event
// loop that tells how long it went without handling a timer.
#pragma once

#include "app/Varnel.h"
#include "app/VarnelDlg.h"
#include "app/framework/TestHooks.h"
#include "app/platform/Clock.h"
#include "app/platform/Profile.h"
#include "app/platform/TestSeams.h"
#include "fault/NamespacedServer.h"
#include "framework/QtTestApp.h"
#include "support/LoopbackServer.h"
#include "support/Pattern.h"
#include "support/PtyPair.h"

#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace fault {

using namespace std::chrono_literals;

// A timer of the test on the window thread, firing every 10 ms. Whenever the thread is held up
// (a tick of the bridge that blocks, a slow push), the gap between two of its firings grows.
class TickWatch {
public:
    TickWatch();
    void Start();
    void Stop() { timer_.stop(); }
    // The longest time between two firings since Start, the open interval up to now included.
    qint64 LongestGapMs() const;
    // Firings so far; readable from any thread.
    int Beats() const { return beats_.load(); }

private:
    QTimer timer_;
    QElapsedTimer since_;
    qint64 longest_ = 0;
    std::atomic<int> beats_{0};
};

using testing_support::Pattern;

// Reads the pty master on a thread of its own for as long as it lives, so that a serial write
// of the bridge never waits for the test's loop.
class DeviceReader {
public:
    explicit DeviceReader(int master);
    ~DeviceReader();
    std::string Taken();
    std::size_t Size();

private:
    int master_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::string got_;
    std::thread thread_;
};

class FaultTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    void Set(const char* section, const char* key, const std::string& value);
    void Start();
    // Presses Open and waits for the server to take the connection.
    void StartLinked();
    // The same with the server in a namespace of the test's own, whose path the test can cut.
    void StartLinkedTo(NamespacedServer& far);
    void Press(int id);
    bool Until(const std::function<bool()>& done, int ms = 5000) {
        return PumpEventsUntil(done, ms);
    }
    // Pumps the window for the given time (a window of observation, not a wait for a result).
    void Watch(std::chrono::milliseconds span);
    // Everything the serial device, or the server, receives within the time, pumping meanwhile.
    std::string DeviceReceives(std::size_t count, int ms = 5000);
    std::string ServerReceives(std::size_t count, int ms = 5000);
    std::string Caption() { return dlg->m_btnOpen.GetWindowText(); }
    // The device's next block is due: some 6 kB a second since streaming started, as far as the
    // window takes them in.
    static bool DeviceBlockDue(const QElapsedTimer& streaming, std::uint64_t sent) {
        return sent < static_cast<std::uint64_t>(streaming.elapsed()) * 6 + 64 &&
               sent < static_cast<std::uint64_t>(g_nComBytes) + 512;
    }
    std::size_t LoggedEntries(const std::string& logName, const std::string& direction);

    testing_support::TempWorkDir dir;
    testing_support::PtyPair pty;
    testing_support::LoopbackServer server;
    std::unique_ptr<CVarnelDlg> dlg;
    TickWatch ticks;
};

// Bounded by what the window may spend in one handler outside the waits that are allowed to
// block it: one timer of ours must fire within a second.
inline constexpr qint64 kResponsiveMs = 1000;

} // namespace fault
