// The client set against real clients on loopback: who is let in, who gives way, and that one
// client's troubles cost the others nothing.
#include "app/network/ClientSet.h"
#include "app/network/Address.h"
#include "app/network/TlsConfig.h"
#include "support/LoopbackClient.h"
#include "support/Pattern.h"
#include "support/SocketAddress.h"
#include "support/WaitUntil.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using testing_support::Pattern;
using testing_support::WaitUntil;

using TestClient = testing_support::LoopbackClient;

ClientSetOptions Options(int clients, bool takeover = false, const char* allow = "") {
    ClientSetOptions options;
    options.clients = clients;
    options.takeover = takeover;
    options.allow = CAllowList::Parse(allow, nullptr).value();
    return options;
}

// What the bridge does on each poll before it reads: new clients taken, handshakes moved on.
void Step(CClientSet& set) {
    set.Accept();
    set.Advance();
}

// Accepts until count clients are served, and hears of them (only then are they read).
bool Served(CClientSet& set, std::size_t count) {
    return WaitUntil(
        [&] {
            Step(set);
            set.TakeEvents();
            return set.Clients().size() == count;
        },
        5s);
}

// Accepts until an event of this kind arrived; it goes into *pEvent.
bool Told(CClientSet& set, ClientNews news, ClientEvent* pEvent) {
    return WaitUntil(
        [&] {
            Step(set);
            char buffer[4096];
            set.Receive(buffer, sizeof buffer, nullptr);
            for (ClientEvent& event : set.TakeEvents())
                if (event.news == news) {
                    *pEvent = event;
                    return true;
                }
            return false;
        },
        5s);
}

TEST(ClientSet, TheAllowListTurnsAwayOtherLoopbackAddressesUnheard) {
    CClientSet set(Options(4, false, "127.0.0.2, 127.0.0.4/32"));
    ASSERT_EQ(set.Listen("127.0.0.1", 0), 0);
    TestClient allowed("127.0.0.2", set.Listener().Port());
    ASSERT_TRUE(Served(set, 1));
    TestClient other("127.0.0.3", set.Listener().Port());
    ASSERT_TRUE(other.Send("never read"));
    ClientEvent refusal{};
    ASSERT_TRUE(Told(set, ClientNews::refused, &refusal));
    EXPECT_EQ(refusal.reason, ClientReason::notAllowed);
    EXPECT_EQ(refusal.peer, other.Name());
    EXPECT_EQ(set.Refused(), 1u);
    ASSERT_EQ(set.RecentRefusals().size(), 1u);

    // The refused client got nothing and its bytes went nowhere; the allowed one is served.
    set.SendToAll("device", 6);
    ASSERT_TRUE(allowed.Send("key"));
    std::string fromClients;
    ASSERT_TRUE(WaitUntil(
        [&] {
            char buffer[64];
            fromClients.append(buffer, set.Receive(buffer, sizeof buffer, nullptr));
            allowed.Read();
            return fromClients == "key" && allowed.got == "device";
        },
        5s));
    EXPECT_TRUE(WaitUntil([&] { return other.Ended(); }, 5s));
    EXPECT_EQ(other.got, "");
    EXPECT_EQ(set.Count(), 1u);
}

TEST(ClientSet, ANewcomerToAFullSetIsTurnedAwayOrTakesThePlaceOfTheQuietest) {
    for (const bool takeover : {false, true}) {
        SCOPED_TRACE(takeover ? "takeover" : "no takeover");
        CClientSet set(Options(2, takeover));
        ASSERT_EQ(set.Listen("127.0.0.1", 0), 0);
        const std::uint16_t port = set.Listener().Port();
        TestClient talker("127.0.0.1", port);
        ASSERT_TRUE(Served(set, 1));
        TestClient quiet("127.0.0.1", port);
        ASSERT_TRUE(Served(set, 2));
        // The first one speaks after the second connected: the second is now the quietest.
        ASSERT_TRUE(talker.Send("x"));
        char buffer[16];
        ASSERT_TRUE(
            WaitUntil([&] { return set.Receive(buffer, sizeof buffer, nullptr) == 1; }, 5s));
        set.TakeEvents();

        TestClient newcomer("127.0.0.1", port);
        ClientEvent event{};
        ASSERT_TRUE(Told(set, takeover ? ClientNews::left : ClientNews::refused, &event));
        EXPECT_EQ(event.reason, takeover ? ClientReason::replaced : ClientReason::full);
        EXPECT_EQ(event.peer, takeover ? quiet.Name() : newcomer.Name());
        EXPECT_EQ(set.Count(), 2u);

        set.SendToAll("late", 4);
        TestClient& gone = takeover ? quiet : newcomer;
        TestClient& served = takeover ? newcomer : quiet;
        EXPECT_TRUE(WaitUntil([&] { return gone.Ended(); }, 5s));
        EXPECT_TRUE(WaitUntil(
            [&] {
                talker.Read();
                served.Read();
                return talker.got == "late" && served.got == "late";
            },
            5s));
        EXPECT_EQ(gone.got, "");
    }
}

TEST(ClientSet, AFrozenClientIsClosedPastItsBoundWhileTheLiveOneLosesNothing) {
    CClientSet set(Options(2));
    ASSERT_EQ(set.Listen("127.0.0.1", 0), 0);
    // Before anyone connects the device's bytes go nowhere and are not kept for later.
    EXPECT_EQ(set.SendToAll("old", 3), 3u);
    EXPECT_EQ(set.Undelivered(), 3u);
    TestClient frozen("127.0.0.1", set.Listener().Port());
    TestClient live("127.0.0.1", set.Listener().Port());
    ASSERT_TRUE(Served(set, 2));

    std::string sent;
    bool frozenLeft = false;
    ClientEvent left{};
    // Beyond the bound the frozen client's socket buffers hold a few megabytes more.
    while (!frozenLeft && sent.size() < 8 * SEND_BACKLOG_LIMIT) {
        const std::string block = Pattern(sent.size(), 16384);
        EXPECT_EQ(set.SendToAll(block.data(), block.size()), 0u);
        sent += block;
        ASSERT_TRUE(live.Read());
        set.Flush();
        for (ClientEvent& event : set.TakeEvents())
            if (event.news == ClientNews::left) {
                left = event;
                frozenLeft = true;
            }
    }
    ASSERT_TRUE(frozenLeft);
    EXPECT_EQ(left.peer, frozen.Name());
    EXPECT_EQ(left.reason, ClientReason::stoppedReading);
    EXPECT_GE(left.lost, SEND_BACKLOG_LIMIT - 16384);
    ASSERT_EQ(set.Count(), 1u);

    const std::string tail = Pattern(sent.size(), 1000);
    set.SendToAll(tail.data(), tail.size());
    sent += tail;
    ASSERT_TRUE(WaitUntil(
        [&] {
            set.Flush();
            live.Read();
            return live.got.size() >= sent.size();
        },
        10s));
    EXPECT_TRUE(live.got == sent) << live.got.size() << " of " << sent.size();
    EXPECT_EQ(set.Clients().at(0).sent, sent.size());
    EXPECT_EQ(set.Undelivered(), 3u);
}

TEST(ClientSet, EachClientsBytesArriveWholeAndInOrderAndItsEndIsTold) {
    CClientSet set(Options(3));
    ASSERT_EQ(set.Listen("127.0.0.1", 0), 0);
    // A terminal's lone key, a line, and more than one read can take.
    const std::size_t sizes[] = {1, 300, 200000};
    std::vector<std::unique_ptr<TestClient>> clients;
    std::vector<std::string> sent;
    for (std::size_t i = 0; i < std::size(sizes); ++i) {
        clients.push_back(std::make_unique<TestClient>("127.0.0.1", set.Listener().Port()));
        ASSERT_TRUE(Served(set, i + 1));
        sent.push_back(Pattern(i << 32, sizes[i]));
    }
    const std::vector<ClientFacts> facts = set.Clients();
    for (std::size_t i = 0; i < clients.size(); ++i)
        ASSERT_TRUE(clients[i]->Send(sent[i]));

    std::map<ClientId, std::string> got;
    ASSERT_TRUE(WaitUntil(
        [&] {
            char buffer[4096];
            ClientId from = 0;
            while (const std::size_t n = set.Receive(buffer, sizeof buffer, &from))
                got[from].append(buffer, n);
            for (std::size_t i = 0; i < clients.size(); ++i)
                if (got[facts[i].id].size() < sent[i].size())
                    return false;
            return true;
        },
        10s));
    for (std::size_t i = 0; i < clients.size(); ++i) {
        EXPECT_TRUE(got[facts[i].id] == sent[i]) << "client " << i;
        EXPECT_EQ(set.Clients().at(i).received, sent[i].size());
    }

    clients[1].reset();
    ClientEvent event{};
    ASSERT_TRUE(Told(set, ClientNews::left, &event));
    EXPECT_EQ(event.reason, ClientReason::closedByClient);
    EXPECT_EQ(event.id, facts[1].id);
    set.CloseAll();
    EXPECT_EQ(set.TakeEvents().size(), 2u);
    EXPECT_FALSE(set.Listening());
}

TEST(ClientSet, AClientThatComesBackAtOnceIsServedAndAHalfClosedOneStillGetsTheAnswer) {
    CClientSet set(Options(1));
    ASSERT_EQ(set.Listen("127.0.0.1", 0), 0);
    const std::uint16_t port = set.Listener().Port();
    // A request script: connect, ask, end its sending side, read the answer, close, and again at
    // once, faster than the bridge polls.
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        TestClient client("127.0.0.1", port);
        ASSERT_TRUE(WaitUntil(
            [&] {
                Step(set);
                set.TakeEvents();
                const std::vector<ClientFacts> served = set.Clients();
                return served.size() == 1 && served[0].peer == client.Name();
            },
            5s));
        ASSERT_TRUE(client.Send("question"));
        client.HalfClose();
        std::string asked;
        ASSERT_TRUE(WaitUntil(
            [&] {
                char buffer[64];
                asked.append(buffer, set.Receive(buffer, sizeof buffer, nullptr));
                return asked == "question";
            },
            5s));
        // Its end is read before the device answers: the answer still reaches it.
        char buffer[64];
        set.Receive(buffer, sizeof buffer, nullptr);
        set.SendToAll("answer", 6);
        set.Flush();
        ASSERT_TRUE(WaitUntil(
            [&] {
                client.Read();
                return client.got == "answer";
            },
            5s));
    }
    // Each newcomer waited for the leaver's place instead of being refused; a lingering client
    // leaves within its bound.
    EXPECT_EQ(set.Refused(), 0u);
    EXPECT_TRUE(WaitUntil(
        [&] {
            Step(set);
            return set.Count() == 0;
        },
        5s));
}

TEST(ClientSet, NewcomersWaitingForAPlaceAreServedInTheOrderTheyCame) {
    ClientSetOptions options = Options(1);
    options.lingerMs = 200;
    CClientSet set(options);
    ASSERT_EQ(set.Listen("127.0.0.1", 0), 0);
    const std::uint16_t port = set.Listener().Port();
    auto holder = std::make_unique<TestClient>("127.0.0.1", port);
    ASSERT_TRUE(Served(set, 1));
    // Request scripts from one address, more of them than handshakes may run from it: each
    // connects, asks and ends its sending side before the set has looked at it.
    std::vector<std::unique_ptr<TestClient>> line;
    std::string asked;
    for (std::size_t i = 0; i <= MOST_HANDSHAKES_PER_ADDRESS; ++i) {
        line.push_back(std::make_unique<TestClient>("127.0.0.1", port));
        const std::string ping = "ping " + std::to_string(i) + ";";
        ASSERT_TRUE(line.back()->Send(ping));
        line.back()->HalfClose();
        asked += ping;
    }
    holder.reset();
    std::string got;
    ASSERT_TRUE(WaitUntil(
        [&] {
            Step(set);
            set.TakeEvents();
            char buffer[64];
            while (const std::size_t n = set.Receive(buffer, sizeof buffer, nullptr))
                got.append(buffer, n);
            return got.size() >= asked.size();
        },
        10s));
    EXPECT_EQ(got, asked) << "a later newcomer went first";
    EXPECT_EQ(set.Refused(), 0u);
}

TEST(ClientSet, UnfinishedHandshakesGiveWayToNewcomersWithTheirTrueReason) {
    TlsSettings settings{true,
                         "",
                         "",
                         "",
                         std::string(VARNEL_TEST_CERTS) + "/server.pem",
                         std::string(VARNEL_TEST_CERTS) + "/server.key"};
    std::string error;
    ClientSetOptions options = Options(1);
    options.tls = CTlsConfig::Make(settings, CTlsConfig::Role::server, "127.0.0.1", &error);
    ASSERT_TRUE(options.tls) << error;
    CClientSet set(options);
    ASSERT_EQ(set.Listen("127.0.0.1", 0), 0);
    // Silent connections from several addresses hold every handshake place, and more come.
    std::vector<std::unique_ptr<TestClient>> silent;
    for (int i = 0; i < 24; ++i) {
        const std::string source = "127.0.0." + std::to_string(2 + i % 6);
        silent.push_back(std::make_unique<TestClient>(source.c_str(), set.Listener().Port()));
    }
    ASSERT_TRUE(WaitUntil(
        [&] {
            Step(set);
            return set.Refused() >= 24 - MOST_HANDSHAKES;
        },
        5s));
    EXPECT_LE(set.Count(), MOST_HANDSHAKES);
    std::size_t outshaken = 0;
    for (const ClientEvent& event : set.TakeEvents())
        outshaken += event.reason == ClientReason::outshaken;
    EXPECT_EQ(outshaken, set.Refused()) << "a refusal names another reason";
}

TEST(ClientSet, AnAddressThatCannotBeListenedAtGivesTheReason) {
    CClientSet first;
    ASSERT_EQ(first.Listen("127.0.0.1", 0), 0);
    const struct {
        const char* ip;
        std::uint16_t port;
        int error;
    } cases[] = {
        {"127.0.0.1", first.Listener().Port(), EADDRINUSE},
        {"192.0.2.1", 0, EADDRNOTAVAIL}, // no interface of this machine has it
        {"127.0.0.256", 0, EINVAL},
        {"localhost", 0, EINVAL},
    };
    for (const auto& c : cases) {
        CClientSet set;
        EXPECT_EQ(set.Listen(c.ip, c.port), c.error) << c.ip;
        EXPECT_FALSE(set.Listening()) << c.ip;
    }
}

} // namespace
