// What the window and the events file say of the device server: the network status line and its
// tooltip, and one events line per client that connects, leaves or is turned away.
#pragma once

#include "app/network/ClientSet.h"

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

// "监听端口 8000" with no client, "已连接 1 个客户端", "已连接 3 个客户端" with some; where is the
// listener's address ("127.0.0.1:8000"), which with each client's is the tooltip's.
std::string ListenStatus(const std::string& where, const std::vector<ClientFacts>& clients);

// The tooltip: where it listens and for how many, each client (address, since when, bytes each
// way, what waits for it), the refusals so far, and the device's bytes that no client got.
struct ListenFacts {
    std::string where;
    std::string protocols; // what runs over each connection: ProtocolText
    int places = 1;
    bool takeover = false;
    std::string allow; // as the settings give it, empty for everyone
    std::vector<ClientFacts> clients;
    std::uint64_t refused = 0;
    std::deque<ClientEvent> recentRefusals;
    std::uint64_t undelivered = 0;
    bool counters = true; // each client's bytes and what waits for it
};
std::string ListenTip(const ListenFacts& facts);

// What runs over a connection, for the first line of the network tooltip: "", "Telnet", "TLS",
// "Telnet over TLS".
std::string ProtocolText(bool telnet, bool tls);

// Why a client left or was turned away, in plain words ("it closed the connection", "not in
// ALLOW" ...).
std::string ClientReasonText(const ClientEvent& event);

// "2026-12-08 09:06:01 client 127.0.0.1:50412 connected", "... left: it stopped reading; 4194304
// bytes for it not delivered", "... refused: not in ALLOW", with CR LF.
std::string ClientEventLine(const SYSTEMTIME& when, const ClientEvent& event);
