// The rig of the fault tests: the window's rig (support/BridgeWindow.h) with a pty for the device,
// on the offscreen platform, and a watch on the window's own event loop that tells how long it
// went without handling a timer.
#pragma once

#include "framework/QtTestApp.h"
#include "support/BridgeWindow.h"
#include "support/NamespacedServer.h"
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

using testing_support::NamespacedServer;
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

class FaultTest : public testing_support::BridgeRig<testing_support::PtyPair> {
protected:
    void SetUp() override;
    void TearDown() override;

    void Start() override;
    // With the mouse, as the user clicks.
    void Press(int id) override { MouseClickForTest(dlg->GetDlgItem(id)); }
    // StartLinked with the server in a namespace of the test's own, whose path the test can cut.
    void StartLinkedTo(NamespacedServer& far);
    // Pumps the window for the given time (a window of observation, not a wait for a result).
    void Watch(std::chrono::milliseconds span);
    // The device's next block is due: some 6 kB a second since streaming started, as far as the
    // window takes them in.
    static bool DeviceBlockDue(const QElapsedTimer& streaming, std::uint64_t sent) {
        return sent < static_cast<std::uint64_t>(streaming.elapsed()) * 6 + 64 &&
               sent < static_cast<std::uint64_t>(g_nComBytes) + 512;
    }
    std::size_t LoggedEntries(const std::string& logName, const std::string& direction);

    TickWatch ticks;
};

// Bounded by what the window may spend in one handler outside the waits that are allowed to
// block it: one timer of ours must fire within a second.
inline constexpr qint64 kResponsiveMs = 1000;

} // namespace fault
