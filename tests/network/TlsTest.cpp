// TLS as two sessions talking in memory, with the certificates tests/support/make-test-certs
// made: what is refused and how the refusal reads, how acknowledged wire bytes map back to the
// bridge's bytes, and the settings that cannot work.
#include "app/network/TlsSession.h"
#include "support/FileText.h"

#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include <ctime>
#include <memory>
#include <string>

namespace {

std::string Cert(const std::string& name, const char* ext = "pem") {
    return std::string(VARNEL_TEST_CERTS) + "/" + name + "." + ext;
}

std::string Pin(const std::string& name) {
    return testing_support::ReadFile(Cert(name, "pin"));
}

std::shared_ptr<const CTlsConfig> Config(const TlsSettings& settings, CTlsConfig::Role role) {
    std::string error;
    std::shared_ptr<const CTlsConfig> config =
        CTlsConfig::Make(settings, role, "127.0.0.1", &error);
    EXPECT_TRUE(config) << error;
    return config;
}

TlsSettings Server(const std::string& name, const std::string& ca = "") {
    TlsSettings settings{true, ca, "", "", Cert(name), Cert(name, "key")};
    return settings;
}

// A client and a server session, the wire between them in the test's hands.
struct Pair {
    std::shared_ptr<const CTlsConfig> clientConfig;
    std::shared_ptr<const CTlsConfig> serverConfig;
    std::unique_ptr<CTlsSession> client;
    std::unique_ptr<CTlsSession> server;

    Pair(const TlsSettings& clientSettings, const TlsSettings& serverSettings)
        : clientConfig(Config(clientSettings, CTlsConfig::Role::client)),
          serverConfig(Config(serverSettings, CTlsConfig::Role::server)),
          client(std::make_unique<CTlsSession>(*clientConfig, "server")),
          server(std::make_unique<CTlsSession>(*serverConfig, "client")) {}

    // Handshakes until both are done or one failed.
    void Shake() {
        for (int i = 0; i < 8 && !(client->Ready() && server->Ready()); ++i) {
            client->Handshake();
            const std::string toServer = client->TakeWire();
            server->PutWire(toServer.data(), toServer.size());
            server->Handshake();
            const std::string toClient = server->TakeWire();
            client->PutWire(toClient.data(), toClient.size());
            if (client->Failed() || server->Failed())
                break;
        }
    }
};

std::string ReadAll(CTlsSession& session) {
    std::string got;
    char buffer[4096];
    for (int n; (n = session.ReadPlain(buffer, sizeof(buffer))) > 0;)
        got.append(buffer, static_cast<std::size_t>(n));
    return got;
}

struct Refusal {
    const char* label;
    const char* serverCert;
    bool withCa;
    const char* pinOf; // the certificate whose key PIN names, or nullptr
    TlsFailure::Kind kind;
    std::string tip;       // a part of the tooltip
    std::string name = {}; // NAME, when set
};

} // namespace

TEST(TlsSession, TheServerIsVerifiedAndEachRefusalSaysWhyAndHowToFixIt) {
    using Kind = TlsFailure::Kind;
    const Refusal cases[] = {
        {"good", "server", true, nullptr, Kind::none, ""},
        {"good, pinned too", "server", true, "server", Kind::none, ""},
        {"self-signed, pinned", "selfsigned", false, "selfsigned", Kind::none, ""},
        {"wrong name", "wrongname", true, nullptr, Kind::wrongName,
         "made for 127.0.0.9, not 127.0.0.1"},
        {"expired", "expired", true, nullptr, Kind::expired,
         "expired on " + DateText(std::time(nullptr) - 8 * 86400)},
        {"self-signed", "selfsigned", true, nullptr, Kind::untrusted,
         "is not from a CA in " + Cert("ca") + "; add the CA that signed it to " + Cert("ca") +
             ", or trust this one key alone with PIN=" + Pin("selfsigned")},
        {"from a good CA, other key", "server", true, "selfsigned", Kind::pinMismatch,
         "its key does not match PIN: the server's key is " + Pin("server")},
        {"pin only, other key", "server", false, "selfsigned", Kind::pinMismatch, Pin("server")},
        // With a CA the pin is checked on top of the chain, the name and the dates.
        {"expired, pinned too", "expired", true, "expired", Kind::expired, "expired on"},
        {"wrong name, pinned too", "wrongname", true, "wrongname", Kind::wrongName, "127.0.0.9"},
        // NAME is checked on the certificate, not only sent.
        {"NAME another host", "server", true, nullptr, Kind::wrongName, "meters.example.net",
         "meters.example.net"},
        {"NAME a host it carries", "server", true, nullptr, Kind::none, "", "LOCALHOST"},
    };
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.label);
        TlsSettings client{
            true, c.withCa ? Cert("ca") : "", c.name, c.pinOf ? Pin(c.pinOf) : "", "", ""};
        Pair pair(client, Server(c.serverCert));
        pair.Shake();
        EXPECT_EQ(pair.client->Failure().kind, c.kind) << TlsFailureTip(pair.client->Failure());
        EXPECT_NE(TlsFailureTip(pair.client->Failure()).find(c.tip), std::string::npos)
            << TlsFailureTip(pair.client->Failure());
        if (c.kind != Kind::none) {
            // The device's bytes never leave a session that refused its server.
            pair.client->WritePlain("device", 6);
            EXPECT_EQ(pair.client->PlainSealed(), 0);
            EXPECT_FALSE(pair.server->Ready() && !ReadAll(*pair.server).empty());
            continue;
        }
        pair.client->WritePlain("to the server", 13);
        const std::string wire = pair.client->TakeWire();
        pair.server->PutWire(wire.data(), wire.size());
        EXPECT_EQ(ReadAll(*pair.server), "to the server");
        EXPECT_NE(TlsTip(pair.client->Facts(), "server", std::time(nullptr)).find("CN="),
                  std::string::npos);
    }
}

TEST(TlsSession, AListenerWithCaServesOnlyClientsWithItsCertificates) {
    const TlsSettings listener = Server("server", Cert("ca"));
    struct {
        const char* cert;
        TlsFailure::Kind kind;
    } const cases[] = {{"client", TlsFailure::Kind::none},
                       {"", TlsFailure::Kind::noCertificate},
                       {"stranger", TlsFailure::Kind::untrusted},
                       {"server", TlsFailure::Kind::wrongPurpose}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cert);
        const std::string name = c.cert;
        TlsSettings client{true,
                           Cert("ca"),
                           "",
                           "",
                           name.empty() ? "" : Cert(name),
                           name.empty() ? "" : Cert(name, "key")};
        Pair pair(client, listener);
        pair.Shake();
        // TLS 1.3 ends the client's handshake first: the server's answer comes after.
        if (pair.client->Ready()) {
            pair.client->WritePlain("hello", 5);
            const std::string wire = pair.client->TakeWire();
            pair.server->PutWire(wire.data(), wire.size());
            ReadAll(*pair.server);
        }
        EXPECT_EQ(pair.server->Failure().kind, c.kind) << TlsFailureTip(pair.server->Failure());
        if (c.kind == TlsFailure::Kind::wrongPurpose) {
            EXPECT_NE(TlsFailureTip(pair.server->Failure()).find("clientAuth"), std::string::npos);
        }
        if (c.kind == TlsFailure::Kind::none)
            EXPECT_EQ(pair.server->Facts().subject, "CN=client1");
        else
            EXPECT_FALSE(pair.server->Failure().peerIsServer);
    }
}

// A server that wants a client certificate, dialled without one: the refusal reads as such at
// TLS 1.3 (which tells it after the client's handshake: the client waits for the verdict) and at
// TLS 1.2 (inside the handshake). With the certificate, the same server serves the client.
TEST(TlsSession, AServerThatWantsAClientCertificateSaysSo) {
    for (const int version : {TLS1_3_VERSION, TLS1_2_VERSION}) {
        SCOPED_TRACE(version);
        for (const bool withCert : {false, true}) {
            TlsSettings client{true,
                               Cert("ca"),
                               "",
                               "",
                               withCert ? Cert("client") : "",
                               withCert ? Cert("client", "key") : ""};
            Pair pair(client, Server("server", Cert("ca")));
            SSL_CTX_set_max_proto_version(pair.serverConfig->Context(), version);
            pair.Shake();
            pair.client->Handshake(); // what the server said last
            if (withCert) {
                EXPECT_TRUE(pair.client->Ready()) << TlsFailureTip(pair.client->Failure());
                continue;
            }
            EXPECT_FALSE(pair.client->Ready());
            EXPECT_EQ(pair.client->Failure().kind, TlsFailure::Kind::certificateRequired);
            EXPECT_EQ(TlsStatusText(pair.client->Failure()), "加密握手失败");
            EXPECT_EQ(TlsFailureTip(pair.client->Failure())
                          .rfind("the server asks for a client certificate: set CERT and KEY in "
                                 "[TLS]",
                                 0),
                      0u)
                << TlsFailureTip(pair.client->Failure());
        }
    }
}

// The count of the server's acknowledged wire bytes stands for the bridge's bytes of the records
// that lie whole within it: exactly what the server can have decrypted from them.
TEST(TlsSession, AcknowledgedWireBytesMapToTheBytesOfWholeRecords) {
    Pair pair({true, Cert("ca"), "", "", "", ""}, Server("server"));
    pair.Shake();
    ASSERT_TRUE(pair.client->Ready());
    const std::int64_t handshake = pair.client->WireMade();
    const std::size_t sizes[] = {1, 2, 100, TLS_RECORD_PLAIN, 20000, 5, 3 * TLS_RECORD_PLAIN};
    std::string plain;
    for (std::size_t size : sizes) {
        const std::string block(size, static_cast<char>('a' + plain.size() % 26));
        pair.client->WritePlain(block.data(), block.size());
        plain += block;
    }
    const std::string wire = pair.client->TakeWire();
    ASSERT_EQ(pair.client->WireMade() - handshake, static_cast<std::int64_t>(wire.size()));
    ASSERT_EQ(pair.client->PlainSealed(), static_cast<std::int64_t>(plain.size()));
    EXPECT_EQ(pair.client->PlainWithin(-1), -1);
    // Give the server the wire a byte at a time: after each, it has decrypted exactly that.
    std::size_t fed = 0;
    std::string decrypted;
    for (std::size_t cut = 0; cut <= wire.size(); ++cut) {
        pair.server->PutWire(wire.data() + fed, cut - fed);
        fed = cut;
        const std::int64_t within = pair.client->PlainWithin(handshake + static_cast<int>(cut));
        decrypted += ReadAll(*pair.server);
        ASSERT_EQ(static_cast<std::int64_t>(decrypted.size()), within) << "cut at " << cut;
    }
}

TEST(TlsConfig, SettingsThatCannotWorkNameTheFileOrTheKey) {
    struct {
        const char* label;
        TlsSettings settings;
        CTlsConfig::Role role;
        const char* says;
    } const cases[] = {
        {"missing CA",
         {true, Cert("nothere"), "", "", "", ""},
         CTlsConfig::Role::client,
         "CA in [TLS]: cannot read"},
        {"key of another",
         {true, "", "", "", Cert("client"), Cert("server", "key")},
         CTlsConfig::Role::client,
         "does not match the certificate in"},
        {"CA that is no PEM",
         {true, Cert("ca", "pin"), "", "", "", ""},
         CTlsConfig::Role::client,
         "holds no certificate"},
        {"bad pin",
         {true, "", "", "sha256//AAAA; x", "", ""},
         CTlsConfig::Role::client,
         "\"sha256//AAAA\""},
        // A name the certificate check would cut short or read otherwise.
        {"NAME with a NUL",
         {true, Cert("ca"), std::string("localhost\0evil", 14), "", "", ""},
         CTlsConfig::Role::client,
         "NAME in [TLS]: "},
        {"NAME an address with a leading zero",
         {true, Cert("ca"), "127.0.00.1", "", "", ""},
         CTlsConfig::Role::client,
         "NAME in [TLS]: \"127.0.00.1\" is not a host name or an IPv4 address"},
        {"listening bare",
         {true, Cert("ca"), "", "", "", ""},
         CTlsConfig::Role::server,
         "CERT and KEY in [TLS] are needed"},
        {"cert without key",
         {true, "", "", "", Cert("client"), ""},
         CTlsConfig::Role::client,
         "CERT in [TLS] is set without KEY"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(CTlsConfig::Make(c.settings, c.role, "127.0.0.1", &error)) << c.label;
        EXPECT_NE(error.find(c.says), std::string::npos) << c.label << ": " << error;
    }
}

TEST(TlsConfig, PinsParseOnlyInTheirOneForm) {
    const std::string good = Pin("server");
    const auto pins = ParsePins(" " + good + " ;;" + Pin("ca") + ";");
    ASSERT_TRUE(pins);
    ASSERT_EQ(pins->size(), 2u);
    EXPECT_EQ(PinText(pins->front()), good);
    for (const std::string& bad : {good.substr(0, good.size() - 1), "sha1//" + good.substr(8),
                                   good + "A", good.substr(0, 20) + "!" + good.substr(21),
                                   std::string("sha256//") + std::string(44, '=')}) {
        std::string named;
        EXPECT_FALSE(ParsePins(good + ";" + bad, &named)) << bad;
        EXPECT_EQ(named, bad);
    }
}

TEST(TlsText, TheTooltipWarnsTwoWeeksBeforeACertificateEnds) {
    const std::time_t now = 1'800'000'000;
    const std::time_t day = 86400;
    struct {
        std::time_t peer, own;
        const char* says;
    } const cases[] = {
        {now + 15 * day, 0, nullptr},
        {now + 13 * day + 60, 0, "the server's certificate expires on"},
        {now + 30 * day, now + 2 * day + 60, "our own certificate expires on"},
        {now - day, 0, "the server's certificate expired on"},
    };
    for (const auto& c : cases) {
        const std::string tip = TlsTip({"TLSv1.3", "X", "CN=s", c.peer, c.own}, "server", now);
        EXPECT_EQ(tip.find("Warning") != std::string::npos, c.says != nullptr) << tip;
        if (c.says != nullptr) {
            EXPECT_NE(tip.find(c.says), std::string::npos) << tip;
        }
    }
}
