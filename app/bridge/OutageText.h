// The texts of an outage of one side of the link: the status line while the side is retried, its
// tooltip, the tooltip's line about the last outage once the side is back, and the lines of the
// day's events file beside the traffic log.
#pragma once

#include "app/platform/Clock.h"

#include <cstddef>
#include <cstdint>
#include <string>

struct OutageFacts {
    bool network = false; // the server's side, or the device's
    std::string reason;   // why the side went down
    SYSTEMTIME from{};
    SYSTEMTIME to{};
    std::int64_t lengthMs = 0;
    std::size_t held = 0;    // network: the device's bytes kept for the server; serial: the
                             // server's bytes that reached no device
    std::size_t resent = 0;  // bytes the server had not acknowledged, sent again
    std::size_t dropped = 0; // bytes past the backlog's bound, or unacknowledged and not kept
    std::string lastAttempt; // why the last attempt to bring it back failed, while it is down
};

// An outage under way: whether one is, since which tick, and its facts.
struct LinkOutage {
    bool active = false;
    std::uint64_t fromTick = 0;
    OutageFacts facts;
};

// "重连服务器 第3次", "重连串口 第1次": attempt is the one that comes next. The port and why it is
// down are the tooltip's: the status line holds the text whole.
std::string RetryStatus(bool network, int attempt);
// Why the side is down, since when, and when the next attempt is due.
std::string RetryTip(const OutageFacts& outage, std::int64_t nextInMs);
// The last outage, once the side is back: from, to, its length and what became of the bytes.
std::string LastOutageTip(const OutageFacts& outage);

// "2026-12-08.events.log"
std::string EventsFileName(const SYSTEMTIME& when);
// One line of the events file: the time, the side, what happened, the reason, the bytes.
std::string EventLine(const SYSTEMTIME& when, const OutageFacts& outage, const std::string& what);
