#include "app/network/NetworkSettings.h"

#include "app/network/Address.h"
#include "app/network/ClientSet.h"

#include <utility>

namespace {

// A value in the words of an error: quoted, and a long one shortened (the file has it whole).
std::string Shown(const std::string& value) {
    constexpr std::size_t kShown = 60;
    if (value.size() <= kShown)
        return "\"" + value + "\"";
    return "\"" + value.substr(0, kShown) + "…\" (" + std::to_string(value.size()) + " characters)";
}

std::string Wrong(const std::string& file, const char* key, const char* section,
                  const std::string& value, const std::string& expected, const char* until) {
    return std::string(key) + " in [" + section + "] of " + file + " is " + Shown(value) + ": " +
           expected + " — fix it; until then " + until;
}

constexpr char kNothingOpens[] = "nothing connects or listens";

// Decimal digits only, at most `digits` of them; nullopt for anything else (a sign, blanks,
// a unit, an empty text).
std::optional<unsigned> Number(const std::string& text, std::size_t digits) {
    if (text.empty() || text.size() > digits)
        return std::nullopt;
    unsigned value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return value;
}

// Reads the keys in turn; the first wrong one is the error, and the rest keep their defaults.
class Reader {
public:
    Reader(NetworkSettings& settings, std::string file)
        : m_settings(settings), m_file(std::move(file)) {}

    bool Failed() const { return !m_settings.error.empty(); }

    void Fail(std::string words, SettingsErrorKind kind) {
        if (Failed())
            return;
        m_settings.error = std::move(words);
        m_settings.errorKind = kind;
    }

    // 0 or 1; missing: off.
    void Switch(const std::optional<std::string>& text, const char* key, const char* section,
                bool& value, SettingsErrorKind kind = SettingsErrorKind::listen) {
        if (!text || Failed())
            return;
        if (*text == "0" || *text == "1")
            value = *text == "1";
        else
            Fail(Wrong(m_file, key, section, *text, "1 (on) or 0 (off) expected", kNothingOpens),
                 kind);
    }

    // From lowest to highest; missing: the default already there.
    template <typename T>
    void Range(const std::optional<std::string>& text, const char* key, const char* section,
               unsigned lowest, unsigned highest, T& value) {
        if (!text || Failed())
            return;
        const auto number = Number(*text, 5);
        if (number && *number >= lowest && *number <= highest)
            value = static_cast<T>(*number);
        else
            Fail(Wrong(m_file, key, section, *text,
                       "a whole number from " + std::to_string(lowest) + " to " +
                           std::to_string(highest) + " expected",
                       kNothingOpens),
                 SettingsErrorKind::listen);
    }

private:
    NetworkSettings& m_settings;
    std::string m_file;
};

} // namespace

std::optional<std::uint16_t> ParseListenPort(const std::string& text) {
    const auto number = Number(text, 5);
    if (!number || *number < 1 || *number > 65535)
        return std::nullopt;
    return static_cast<std::uint16_t>(*number);
}

std::string DescribeListenPortError(const std::string& text, const std::string& file) {
    return Wrong(file, "PORT", "Socket", text, "to listen, a port from 1 to 65535",
                 "nothing listens");
}

NetworkSettings ReadNetworkSettings(const NetworkSettingTexts& texts) {
    NetworkSettings settings;
    Reader read(settings, texts.file);
    read.Switch(texts.listen, "LISTEN", "Socket", settings.listen);
    read.Switch(texts.tls, "TLS", "Socket", settings.tls, SettingsErrorKind::tls);
    read.Switch(texts.telnet, "TELNET", "Socket", settings.telnet);
    read.Range(texts.clients, "CLIENTS", "Socket", 1, MOST_CLIENTS, settings.clients);
    read.Switch(texts.takeover, "TAKEOVER", "Socket", settings.takeover);
    if (texts.allow && !read.Failed()) {
        std::string badEntry;
        if (auto allow = CAllowList::Parse(*texts.allow, &badEntry))
            settings.allow = *allow;
        else
            read.Fail("ALLOW in [Socket] of " + texts.file + ": " + Shown(badEntry) +
                          " is not an IPv4 address or block (a.b.c.d or a.b.c.d/n) — fix it; "
                          "until then nothing listens",
                      SettingsErrorKind::listen);
    }
    read.Range(texts.reconnect, "RECONNECT", "SYSTEM", 0, 3600, settings.reconnect);
    read.Switch(texts.autoOpen, "AUTOOPEN", "SYSTEM", settings.autoOpen);
    read.Switch(texts.fast, "FAST", "SYSTEM", settings.fast);
    // Listening, the address and port say who can reach the device: each is read strictly,
    // and a text that does not parse never becomes "every interface" or "any port".
    if (settings.listen && !read.Failed()) {
        const std::string ip = texts.serverIp.value_or("127.0.0.1");
        if (auto address = ParseIpv4(ip))
            settings.listenAddress = *address;
        else
            read.Fail(Wrong(texts.file, "ServerIP", "Socket", ip,
                            "to listen, a dotted IPv4 address such as 127.0.0.1 (0.0.0.0 for "
                            "every interface)",
                            "nothing listens"),
                      SettingsErrorKind::listen);
        const std::string port = texts.port.value_or("8000");
        if (auto number = ParseListenPort(port))
            settings.listenPort = *number;
        else
            read.Fail(DescribeListenPortError(port, texts.file), SettingsErrorKind::listen);
    }
    return settings;
}
