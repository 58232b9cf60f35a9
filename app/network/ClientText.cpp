#include "app/network/ClientText.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

namespace {

std::string Clock(const SYSTEMTIME& when) {
    char text[24];
    std::snprintf(text, sizeof(text), "%02u:%02u:%02u", when.wHour, when.wMinute, when.wSecond);
    return text;
}

} // namespace

std::string ListenStatus(const std::string& where, const std::vector<ClientFacts>& clients) {
    if (clients.empty())
        return "监听端口 " + where.substr(where.rfind(':') + 1);
    return "已连接 " + std::to_string(clients.size()) + " 个客户端";
}

std::string ListenTip(const ListenFacts& facts) {
    std::string tip =
        "Listening at " + facts.where +
        (facts.protocols.empty() ? "" : " (" + facts.protocols + ")") + " for " +
        std::to_string(facts.places) + (facts.places == 1 ? " client" : " clients") +
        (facts.takeover ? ", a newcomer replaces the quietest" : "") +
        (facts.allow.empty() ? "; any address may connect" : "; allowed: " + facts.allow);
    for (const ClientFacts& client : facts.clients) {
        tip += "\n" + client.peer + " since " + Clock(client.since);
        if (facts.counters)
            tip += ": " + std::to_string(client.received) + " bytes in, " +
                   std::to_string(client.sent) + " out, " + std::to_string(client.waiting) +
                   " waiting";
        if (!client.tls.empty())
            tip += "; " + client.tls;
    }
    if (facts.refused > 0) {
        tip += "\nRefused so far: " + std::to_string(facts.refused);
        if (!facts.recentRefusals.empty()) {
            const ClientEvent& last = facts.recentRefusals.back();
            tip += " (last " + last.peer + ": " + ClientReasonText(last) + ")";
        }
    }
    if (facts.undelivered > 0)
        tip += "\n" + std::to_string(facts.undelivered) +
               " bytes from the device reached no client (none was connected)";
    return tip;
}

std::string ProtocolText(bool telnet, bool tls) {
    if (telnet && tls)
        return "Telnet over TLS";
    return telnet ? "Telnet" : tls ? "TLS" : "";
}

std::string ClientReasonText(const ClientEvent& event) {
    if (event.reason == ClientReason::failed) {
        if (event.error == ETIMEDOUT)
            return "it stopped answering (timed out)";
        if (event.error == ECONNRESET)
            return "it reset the connection";
        return "error " + std::to_string(event.error) + " (" + std::strerror(event.error) + ")";
    }
    if (event.reason == ClientReason::tlsFailed)
        return event.detail.empty() ? "its TLS handshake failed" : event.detail;
    static constexpr std::pair<ClientReason, const char*> kReasons[] = {
        {ClientReason::closedByClient, "it closed the connection"},
        {ClientReason::stoppedReading, "it stopped reading"},
        {ClientReason::brokeTransport, "it broke the protocol"},
        {ClientReason::replaced, "a new client took its place"},
        {ClientReason::closedHere, "closed here"},
        {ClientReason::notAllowed, "not in ALLOW"},
        {ClientReason::full, "every place was taken"},
        {ClientReason::outshaken, "a newer handshake took the place of its unfinished one"},
    };
    for (const auto& [reason, text] : kReasons)
        if (reason == event.reason)
            return text;
    return "";
}

std::string ClientEventLine(const SYSTEMTIME& when, const ClientEvent& event) {
    char stamp[48];
    std::snprintf(stamp, sizeof(stamp), "%04u-%02u-%02u %02u:%02u:%02u", when.wYear, when.wMonth,
                  when.wDay, when.wHour, when.wMinute, when.wSecond);
    std::string line = std::string(stamp) + " client " + event.peer;
    switch (event.news) {
    case ClientNews::connected:
        line += " connected";
        if (!event.detail.empty())
            line += " (" + event.detail + ")";
        break;
    case ClientNews::left:
        line += " left: " + ClientReasonText(event) + "; " + std::to_string(event.lost) +
                " bytes for it not delivered";
        break;
    case ClientNews::refused:
        line += " refused: " + ClientReasonText(event);
        break;
    }
    return line + "\r\n";
}
