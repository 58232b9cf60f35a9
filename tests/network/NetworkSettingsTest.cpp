// The network side's options read strictly: each listed value means what the README says, and
// every other one is an error naming its key and value that leaves everything off.
#include "app/network/NetworkSettings.h"
#include "app/network/Address.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using Field = std::optional<std::string> NetworkSettingTexts::*;

struct Row {
    Field field;
    const char* value;
    const char* error; // a part of the error's words; null: no error
};

NetworkSettingTexts Listening() {
    NetworkSettingTexts texts;
    texts.listen = "1";
    return texts;
}

TEST(NetworkSettings, ListedValuesAreTakenAndMissingOnesAreTheDefaults) {
    const NetworkSettings none = ReadNetworkSettings({});
    EXPECT_EQ(none.error, "");
    EXPECT_FALSE(none.listen || none.telnet || none.tls || none.takeover || none.autoOpen ||
                 none.fast);
    EXPECT_EQ(none.clients, 1);
    EXPECT_EQ(none.reconnect, 0u);
    EXPECT_TRUE(none.allow.Everyone());

    NetworkSettingTexts texts = Listening();
    texts.telnet = texts.tls = texts.takeover = texts.autoOpen = texts.fast = "1";
    texts.clients = "16";
    texts.reconnect = "3600";
    texts.allow = "127.0.0.1, 10.0.0.0/8";
    texts.serverIp = "0.0.0.0";
    texts.port = "65535";
    const NetworkSettings all = ReadNetworkSettings(texts);
    EXPECT_EQ(all.error, "");
    EXPECT_TRUE(all.listen && all.telnet && all.tls && all.takeover && all.autoOpen && all.fast);
    EXPECT_EQ(all.clients, 16);
    EXPECT_EQ(all.reconnect, 3600u);
    EXPECT_TRUE(all.allow.Allows(ParseIpv4("10.9.9.9").value()));
    EXPECT_FALSE(all.allow.Allows(ParseIpv4("127.0.0.2").value()));
    EXPECT_EQ(all.listenAddress, 0u);
    EXPECT_EQ(all.listenPort, 65535);

    // Listening with neither key: the Parts' defaults.
    const NetworkSettings plain = ReadNetworkSettings(Listening());
    EXPECT_EQ(Ipv4Text(plain.listenAddress), "127.0.0.1");
    EXPECT_EQ(plain.listenPort, 8000);
}

// What a careless admin writes: never taken for on, off, everyone or a port of the system's
// choosing, but named. The TLS switch is told on TLS's line.
TEST(NetworkSettings, EveryOtherValueIsAnErrorThatNamesKeyAndValueAndOpensNothing) {
    using T = NetworkSettingTexts;
    const Row rows[] = {
        {&T::tls, "yes", "TLS in [Socket] of VarnelConfig.ini is \"yes\": 1 (on) or 0 (off)"},
        {&T::tls, "true", "\"true\""},
        {&T::tls, "on", "\"on\""},
        {&T::tls, "2", "\"2\""},
        {&T::tls, "", "TLS in [Socket] of VarnelConfig.ini is \"\""},
        {&T::listen, "yes", "LISTEN in [Socket] of VarnelConfig.ini is \"yes\""},
        {&T::telnet, "yes", "TELNET in [Socket] of VarnelConfig.ini is \"yes\""},
        {&T::takeover, "01", "TAKEOVER in [Socket]"},
        {&T::clients, "0",
         "CLIENTS in [Socket] of VarnelConfig.ini is \"0\": a whole number "
         "from 1 to 16"},
        {&T::clients, "17", "\"17\""},
        {&T::clients, "4 clients", "\"4 clients\""},
        {&T::reconnect, "-1",
         "RECONNECT in [SYSTEM] of VarnelConfig.ini is \"-1\": a whole "
         "number from 0 to 3600"},
        {&T::reconnect, "3601", "\"3601\""},
        {&T::reconnect, "10s", "\"10s\""},
        {&T::autoOpen, "yes", "AUTOOPEN in [SYSTEM]"},
        {&T::fast, "7", "FAST in [SYSTEM] of VarnelConfig.ini is \"7\""},
        {&T::allow, "127.0.0.1, 10.0.0.0/33",
         "ALLOW in [Socket] of VarnelConfig.ini: "
         "\"10.0.0.0/33\" is not an IPv4 address"},
        {&T::serverIp, "localhost",
         "ServerIP in [Socket] of VarnelConfig.ini is \"localhost\": "
         "to listen, a dotted IPv4 address"},
        {&T::serverIp, "::1", "\"::1\""},
        {&T::serverIp, "", "ServerIP in [Socket] of VarnelConfig.ini is \"\""},
        {&T::serverIp, "127.0.0.256", "\"127.0.0.256\""},
        {&T::serverIp, "127.0.0.1 # local only", "\"127.0.0.1 # local only\""},
        {&T::port, "70000",
         "PORT in [Socket] of VarnelConfig.ini is \"70000\": to listen, a "
         "port from 1 to 65535"},
        {&T::port, "123456", "\"123456\""},
        {&T::port, "0", "\"0\""},
        {&T::port, "abc", "\"abc\""},
        {&T::port, "-1", "\"-1\""},
        {&T::port, "", "PORT in [Socket] of VarnelConfig.ini is \"\""},
    };
    for (const Row& row : rows) {
        NetworkSettingTexts texts = Listening();
        texts.tls = "1";
        texts.*row.field = row.value;
        const NetworkSettings settings = ReadNetworkSettings(texts);
        SCOPED_TRACE(row.value);
        EXPECT_NE(settings.error.find(row.error), std::string::npos) << settings.error;
        EXPECT_NE(settings.error.find("fix it; until then nothing"), std::string::npos);
        EXPECT_EQ(settings.errorKind,
                  row.field == &T::tls ? SettingsErrorKind::tls : SettingsErrorKind::listen);
    }

    // A long value is named by its start and its length; the reading never cut it.
    NetworkSettingTexts texts;
    texts.fast = std::string(9000, '1');
    EXPECT_NE(ReadNetworkSettings(texts).error.find("…\" (9000 characters)"), std::string::npos);
}

// ServerIP and PORT are the Parts' own when connecting: read there as the Parts read them.
TEST(NetworkSettings, AddressAndPortAreCheckedOnlyWhenListening) {
    NetworkSettingTexts texts;
    texts.serverIp = "localhost";
    texts.port = "70000";
    EXPECT_EQ(ReadNetworkSettings(texts).error, "");
    texts.listen = "0";
    EXPECT_EQ(ReadNetworkSettings(texts).error, "");
}

// An allow-list is read whole: a long one whose last entry is wrong is an error, and one whose
// entries are all good allows exactly them, however far into the text they stand.
TEST(NetworkSettings, AnAllowListIsReadWhole) {
    std::string list;
    while (list.size() < 9000)
        list += "192.168.1.1, ";
    NetworkSettingTexts texts = Listening();
    texts.allow = list + "127.0.0.10";
    const NetworkSettings good = ReadNetworkSettings(texts);
    ASSERT_EQ(good.error, "");
    EXPECT_TRUE(good.allow.Allows(ParseIpv4("127.0.0.10").value()));
    EXPECT_FALSE(good.allow.Allows(ParseIpv4("127.0.0.1").value()));
    texts.allow = list + "128.0.0.0/16x";
    EXPECT_NE(ReadNetworkSettings(texts).error.find("\"128.0.0.0/16x\""), std::string::npos);
}

TEST(NetworkSettings, ListenPortIsOneTo65535InDigits) {
    EXPECT_EQ(ParseListenPort("1"), 1);
    EXPECT_EQ(ParseListenPort("65535"), 65535);
    for (const char* text : {"", "0", "65536", "+80", " 80", "80 ", "8o", "099999"})
        EXPECT_FALSE(ParseListenPort(text)) << text;
}

} // namespace
