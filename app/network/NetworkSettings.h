// The settings of the network side beyond the server's address (LISTEN, TELNET, TLS, CLIENTS,
// TAKEOVER, ALLOW in [Socket]; RECONNECT, AUTOOPEN, FAST in [SYSTEM]; and, when listening, the
// address and port to listen at), read strictly: each value is one the README lists, or the
// whole set is an error that names the key and the value. Nothing is guessed: "yes" is not 1, a
// host name is not an address, 70000 is not a port. The window reads the texts from the file,
// whole, and asks ReadNetworkSettings what they mean.
#pragma once

#include "app/network/AllowList.h"

#include <cstdint>
#include <optional>
#include <string>

// The values as the file has them, each whole; nullopt when the key is missing.
struct NetworkSettingTexts {
    std::string file = "VarnelConfig.ini"; // as the errors name it
    std::optional<std::string> listen, telnet, tls, clients, takeover, allow; // [Socket]
    std::optional<std::string> reconnect, autoOpen, fast;                     // [SYSTEM]
    std::optional<std::string> serverIp, port; // [Socket], read here only when listening
};

// Which status line a settings error shows: the TLS switch is told as TLS's, the rest as the
// listener's (ALLOW has always been).
enum class SettingsErrorKind { none, listen, tls };

struct NetworkSettings {
    bool listen = false;
    bool telnet = false;
    bool tls = false;
    int clients = 1;
    bool takeover = false;
    CAllowList allow;       // everyone when ALLOW is missing or empty
    unsigned reconnect = 0; // seconds; 0 is off
    bool autoOpen = false;
    bool fast = false;
    std::uint32_t listenAddress = 0x7F000001; // host order; only when listen
    std::uint16_t listenPort = 8000;          // only when listen
    // The first value that is not one of the listed ones, in plain words naming its key and
    // value; empty when every value is good. While it is set, nothing connects or listens.
    std::string error;
    SettingsErrorKind errorKind = SettingsErrorKind::none;
};

NetworkSettings ReadNetworkSettings(const NetworkSettingTexts& texts);

// A port to listen at: 1 to 65535 in decimal digits, nothing else; nullopt otherwise.
std::optional<std::uint16_t> ParseListenPort(const std::string& text);

// The words of a wrong listening port, as the status line's tooltip gives them.
std::string DescribeListenPortError(const std::string& text,
                                    const std::string& file = "VarnelConfig.ini");
