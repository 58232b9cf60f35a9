// The network side's settings from any settings file: each value is read whole (the same text a
// buffer large enough gets, however long), and the reading takes exactly the listed values. A
// second reading of the README's rules, written here, must agree: no error exactly when every
// key present has a listed value, then the same meaning; else the error names the first key that
// has not, with its value.
#include "FuzzCheck.h"
#include "FuzzFolder.h"

#include "app/network/NetworkSettings.h"
#include "app/platform/Profile.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Field = std::optional<std::string> NetworkSettingTexts::*;

struct Key {
    const char* section;
    const char* name;
    Field field;
    unsigned lowest, highest; // a switch is 0 to 1
};

// In the order the reading checks them.
const Key kKeys[] = {
    {"Socket", "LISTEN", &NetworkSettingTexts::listen, 0, 1},
    {"Socket", "TLS", &NetworkSettingTexts::tls, 0, 1},
    {"Socket", "TELNET", &NetworkSettingTexts::telnet, 0, 1},
    {"Socket", "CLIENTS", &NetworkSettingTexts::clients, 1, 16},
    {"Socket", "TAKEOVER", &NetworkSettingTexts::takeover, 0, 1},
    {"Socket", "ALLOW", &NetworkSettingTexts::allow, 0, 0},
    {"SYSTEM", "RECONNECT", &NetworkSettingTexts::reconnect, 0, 3600},
    {"SYSTEM", "AUTOOPEN", &NetworkSettingTexts::autoOpen, 0, 1},
    {"SYSTEM", "FAST", &NetworkSettingTexts::fast, 0, 1},
    {"Socket", "ServerIP", &NetworkSettingTexts::serverIp, 0, 0},
    {"Socket", "PORT", &NetworkSettingTexts::port, 1, 65535},
};

// Digits only, at most five of them, within the range.
std::optional<unsigned> InRange(const std::string& text, unsigned lowest, unsigned highest) {
    if (text.empty() || text.size() > 5 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const unsigned value = unsigned(std::stoul(text));
    if (value < lowest || value > highest)
        return std::nullopt;
    return value;
}

bool Ipv4(const std::string& text) {
    unsigned parts = 0;
    std::size_t at = 0;
    while (at <= text.size()) {
        const std::size_t dot = std::min(text.find('.', at), text.size());
        const std::string part = text.substr(at, dot - at);
        if (part.empty() || part.size() > 3 || (part.size() > 1 && part[0] == '0') ||
            !InRange(part, 0, 255))
            return false;
        ++parts;
        at = dot + 1;
    }
    return parts == 4;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static FuzzFolder folder;
    if (size > 64 * 1024)
        return 0;
    std::ofstream(folder.dir / "VarnelConfig.ini", std::ios::binary)
        .write(reinterpret_cast<const char*>(data), std::streamsize(size));
    const std::string file = folder.dir.string() + "\\VarnelConfig.ini";

    NetworkSettingTexts texts;
    for (const Key& key : kKeys) {
        const std::optional<std::string> value =
            GetPrivateProfileValue(key.section, key.name, file.c_str());
        // Whole: what a buffer with room for it gets; a buffer one short tells by its count.
        std::vector<char> buffer(size + 2);
        const std::uint32_t n =
            GetPrivateProfileStringA(key.section, key.name, "\x01", buffer.data(),
                                     std::uint32_t(buffer.size()), file.c_str());
        FUZZ_CHECK(value ? std::string(buffer.data(), n) == *value
                         : std::string(buffer.data(), n) == "\x01");
        if (value && !value->empty()) {
            const std::uint32_t cut =
                GetPrivateProfileStringA(key.section, key.name, "", buffer.data(),
                                         std::uint32_t(value->size()), file.c_str());
            FUZZ_CHECK(cut == value->size() - 1);
        }
        texts.*key.field = value;
    }

    const NetworkSettings settings = ReadNetworkSettings(texts);
    const bool listen = texts.listen == "1";
    const Key* wrong = nullptr;
    for (const Key& key : kKeys) {
        const std::optional<std::string>& value = texts.*key.field;
        const bool listenOnly =
            key.field == &NetworkSettingTexts::serverIp || key.field == &NetworkSettingTexts::port;
        if (listenOnly && !listen)
            continue;
        const std::string text = value.value_or(
            listenOnly && key.field == &NetworkSettingTexts::serverIp ? "127.0.0.1" : "8000");
        if (!value && !listenOnly)
            continue;
        bool good;
        if (key.field == &NetworkSettingTexts::allow)
            good = CAllowList::Parse(text, nullptr).has_value();
        else if (key.field == &NetworkSettingTexts::serverIp)
            good = Ipv4(text);
        else if (key.lowest == 0 && key.highest == 1)
            good = text == "0" || text == "1"; // a switch: exactly one of the two
        else
            good = InRange(text, key.lowest, key.highest).has_value();
        if (!good) {
            wrong = &key;
            break;
        }
    }
    if (wrong == nullptr) {
        FUZZ_CHECK(settings.error.empty() && settings.errorKind == SettingsErrorKind::none);
        auto on = [](const std::optional<std::string>& text) { return text == "1"; };
        FUZZ_CHECK(settings.listen == listen && settings.tls == on(texts.tls) &&
                   settings.telnet == on(texts.telnet) && settings.takeover == on(texts.takeover) &&
                   settings.autoOpen == on(texts.autoOpen) && settings.fast == on(texts.fast));
        FUZZ_CHECK(settings.clients == (texts.clients ? std::stoi(*texts.clients) : 1));
        FUZZ_CHECK(settings.reconnect == (texts.reconnect ? std::stoul(*texts.reconnect) : 0));
        if (listen)
            FUZZ_CHECK(settings.listenPort == (texts.port ? std::stoul(*texts.port) : 8000));
        return 0;
    }
    // Named by its key and section, and told on the line of TLS only for TLS.
    FUZZ_CHECK(settings.error.rfind(std::string(wrong->name) + " in [" + wrong->section + "]", 0) ==
               0);
    FUZZ_CHECK((settings.errorKind == SettingsErrorKind::tls) ==
               (wrong->field == &NetworkSettingTexts::tls));
    FUZZ_CHECK(settings.error.find("fix it; until then nothing") != std::string::npos);
    return 0;
}
