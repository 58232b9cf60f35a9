#include "app/bridge/OutageText.h"

#include <cstdio>

namespace {

std::string TimeOfDay(const SYSTEMTIME& t) {
    char text[24];
    std::snprintf(text, sizeof(text), "%02u:%02u:%02u", t.wHour, t.wMinute, t.wSecond);
    return text;
}

std::string Seconds(std::int64_t ms) {
    return std::to_string((ms + 999) / 1000) + " s";
}

std::string Bytes(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " byte" : " bytes");
}

} // namespace

std::string RetryStatus(bool network, int attempt) {
    return std::string(network ? "重连服务器" : "重连串口") + " 第" + std::to_string(attempt) +
           "次";
}

std::string RetryTip(const OutageFacts& outage, std::int64_t nextInMs) {
    std::string tip = outage.reason + "\nDown since " + TimeOfDay(outage.from) +
                      "; next attempt in " + Seconds(nextInMs < 0 ? 0 : nextInMs);
    if (!outage.lastAttempt.empty() && outage.lastAttempt != outage.reason)
        tip += "\nLast attempt: " + outage.lastAttempt;
    if (outage.network && outage.held > 0)
        tip += "\n" + Bytes(outage.held) + " from the device wait for the server";
    if (!outage.network && outage.held > 0)
        tip += "\n" + Bytes(outage.held) + " from the server reached no device";
    return tip;
}

std::string LastOutageTip(const OutageFacts& outage) {
    std::string tip = "Last outage: " + TimeOfDay(outage.from) + " to " + TimeOfDay(outage.to) +
                      " (" + Seconds(outage.lengthMs) + "), " + outage.reason;
    if (outage.network)
        tip += "; " + Bytes(outage.held) + " held and sent, " + Bytes(outage.resent) +
               " sent again, " + Bytes(outage.dropped) + " dropped";
    else
        tip += "; " + Bytes(outage.held) + " from the server not delivered";
    return tip;
}

std::string EventsFileName(const SYSTEMTIME& when) {
    char name[48];
    std::snprintf(name, sizeof(name), "%04u-%02u-%02u.events.log", when.wYear, when.wMonth,
                  when.wDay);
    return name;
}

std::string EventLine(const SYSTEMTIME& when, const OutageFacts& outage, const std::string& what) {
    char stamp[48];
    std::snprintf(stamp, sizeof(stamp), "%04u-%02u-%02u %02u:%02u:%02u", when.wYear, when.wMonth,
                  when.wDay, when.wHour, when.wMinute, when.wSecond);
    std::string line = std::string(stamp) + (outage.network ? " server " : " device ") + what +
                       ": " + outage.reason;
    if (outage.network)
        line += "; held " + std::to_string(outage.held) + ", sent again " +
                std::to_string(outage.resent) + ", dropped " + std::to_string(outage.dropped);
    else
        line += "; from the server not delivered " + std::to_string(outage.held);
    return line + "\r\n";
}
