// A host for a network side without a window: it records what the side asks of it (timers,
// watches, the status line, events, the device's blocks), and its Turn is one pass of the
// window's loop, handing the side every timer that runs and every watch whose socket is ready.
// The room the device has is the test's to set; a side that holds its peers is held as the
// window holds it.
#pragma once

#include "app/side/NetworkSide.h"
#include "support/WaitUntil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace testing_support {

class FakeSideHost final : public CSideHost {
public:
    struct Watch {
        sock::SOCKET s;
        bool writable;
    };

    void SetTimer(LinkTimerId nID, unsigned nMs) override { timers[nID] = nMs; }
    void SetOneShotTimer(LinkTimerId nID, unsigned) override { oneShots.insert(nID); }
    void KillTimer(LinkTimerId nID) override {
        timers.erase(nID);
        oneShots.erase(nID);
    }
    bool IsTimerRunning(LinkTimerId nID) const override {
        return timers.count(nID) > 0 || oneShots.count(nID) > 0;
    }
    void WatchSocket(LinkTimerId nID, sock::SOCKET s, bool bWritable) override {
        watches[nID] = {s, bWritable};
    }
    void Unwatch(LinkTimerId nID) override { watches.erase(nID); }
    bool IsWatching(LinkTimerId nID) const override { return watches.count(nID) > 0; }

    bool DeviceHasRoom() const override { return room; }
    void ToDevice(const char* pBuffer, std::size_t nLength) override {
        device.append(pBuffer, nLength);
    }
    void BlockFrom(const std::string&) override {}
    void ServerBlockDelivered() override {}
    void HoldPeers() override {
        ++holds;
        if (side != nullptr && !side->ReadingHeld())
            side->HoldReading();
    }

    std::shared_ptr<CComPortSession> NewSession() override {
        ADD_FAILURE() << "a session without Telnet";
        return nullptr;
    }
    bool FromTelnetPeer(CComPortSession&, const char*, std::size_t, const std::string&,
                        std::string&) override {
        return true;
    }
    bool ResumeTelnetPeer(CComPortSession&, const std::string&, std::string&) override {
        return true;
    }
    void LastSessionEnded() override {}

    void ShowNetworkStatus(const std::string& strStatus, const std::string& strTip, bool) override {
        status = strStatus;
        tip = strTip;
    }
    void AppendEvent(const std::string&, const std::string& strLine) override {
        events.push_back(strLine);
    }
    void NetworkDropped(const std::string& strReason, CReconnectPlan::End end) override {
        drops.emplace_back(strReason, end);
        if (onDropped)
            onDropped();
    }

    // One pass of the window's loop: each running timer has come due, each one-shot fires once,
    // and each watched socket that is ready (readable, or watched for writing) is handed over.
    void Turn() {
        for (const auto& [id, ms] : std::map<LinkTimerId, unsigned>(timers))
            if (timers.count(id) > 0)
                side->OnTimer(id);
        for (LinkTimerId id : std::set<LinkTimerId>(oneShots))
            if (oneShots.erase(id) > 0)
                side->OnTimer(id);
        for (const auto& [id, watch] : std::map<LinkTimerId, Watch>(watches))
            if (watches.count(id) > 0 && (watch.writable || sock::select(watch.s, 0, 0) != 0))
                side->OnWatch(id);
    }
    // Turns the loop until `done` holds, for at most `within`.
    bool TurnUntil(const std::function<bool()>& done,
                   std::chrono::milliseconds within = std::chrono::seconds(5)) {
        return WaitUntil(
            [&] {
                Turn();
                return done();
            },
            within);
    }

    CNetworkSide* side = nullptr;
    bool room = true;
    std::string device;
    int holds = 0;
    std::string status, tip;
    std::vector<std::string> events;
    std::vector<std::pair<std::string, CReconnectPlan::End>> drops;
    std::function<void()> onDropped;
    std::map<LinkTimerId, unsigned> timers;
    std::set<LinkTimerId> oneShots;
    std::map<LinkTimerId, Watch> watches;
};

// Two byte streams are the same; else how long each is and where they part, not the bytes.
inline ::testing::AssertionResult SameBytes(const std::string& got, const std::string& want) {
    if (got == want)
        return ::testing::AssertionSuccess();
    std::size_t at = 0;
    while (at < got.size() && at < want.size() && got[at] == want[at])
        ++at;
    return ::testing::AssertionFailure() << got.size() << " bytes where " << want.size()
                                         << " were wanted; they part at byte " << at;
}

} // namespace testing_support
