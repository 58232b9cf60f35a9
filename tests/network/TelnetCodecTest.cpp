// The Telnet codec as tables: every input split at every offset reads the same, 0xFF passes both
// ways, negotiation answers each request once, and bad subnegotiations reach nothing.
#include "app/network/TelnetCodec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

using namespace std::literals;
using namespace telnet;

namespace {

std::string B(std::initializer_list<int> values) {
    std::string bytes;
    for (int value : values)
        bytes += char(value);
    return bytes;
}

// What a run of Feed() calls yielded, joined; a command as its code then its value.
struct Read {
    std::string data, reply;
    std::vector<std::string> commands;
    std::vector<TelnetDrop> dropped;
};

void Add(Read& read, const TelnetInput& in) {
    read.data += in.data;
    read.reply += in.reply;
    for (const ComCommand& command : in.commands)
        read.commands.push_back(char(command.code) + command.value);
    for (const TelnetDropped& dropped : in.dropped)
        read.dropped.push_back(dropped.why);
}

Read FeedIn(const std::vector<std::string_view>& blocks) {
    CTelnetCodec codec;
    TelnetInput in;
    Read read;
    for (std::string_view block : blocks) {
        codec.Feed(block, in);
        Add(read, in);
    }
    return read;
}

TEST(TelnetCodec, EveryInputSplitAtEveryOffsetReadsTheSame) {
    const int I = IAC, S = SB, E = SE;
    using D = TelnetDrop;
    struct Case {
        std::string wire, data;
        std::vector<std::string> commands;
        std::vector<TelnetDrop> dropped;
        std::string reply = "";
    };
    const Case cases[] = {
        {B({'a', I, I, 'b', I, I}), B({'a', I, 'b', I}), {}, {}},
        {B({I, S, 44, 1, 0, 0, 0x25, 0x80, I, E}), "", {B({1, 0, 0, 0x25, 0x80})}, {}},
        {"x" + B({I, S, 44, 1, 0, 0, I, I, 0, I, E}) + "y", "xy", {B({1, 0, 0, I, 0})}, {}},
        {B({I, S, 44, 0, I, E, I, S, 44, 8, I, E, I, S, 44, 12, 3, I, E}),
         "",
         {B({0}), B({8}), B({12, 3})},
         {}},
        {B({I, S, 44, 0}) + "Hi" + B({I, E}), "", {B({0}) + "Hi"}, {}},
        // A poll of the modem state, with no value or with one.
        {B({I, S, 44, 7, I, E, I, S, 44, 7, 0, I, E, I, S, 44, 7, 1, 2, I, E}),
         "",
         {B({7}), B({7, 0})},
         {D::wrongLength}},
        {"p" + B({I, 241, I, 249}) + "q" + B({I, WILL, 3}) + "r", "pqr", {}, {}, B({I, DO, 3})},
        // CR NUL: the NUL is padding from a peer without BINARY, a byte of data from one with it.
        {"A\r" + B({0}) + "B", "A\rB", {}, {}},
        {B({I, WILL, BINARY}) + "A\r" + B({0}) + "B",
         "A\r" + B({0}) + "B",
         {},
         {},
         B({I, DO, BINARY})},
        // Malformed: each dropped whole, the session reads on.
        {B({I, S, 44, 2, 8, I, 241}) + "z", "z", {}, {D::badIac}},
        {B({I, S, 44, 2, I, S, 44, 2, 7, I, E}), "", {B({2, 7})}, {D::badIac}},
        {B({I, S, 24, 1, I, E}) + "k", "k", {}, {D::otherOption}},
        {B({I, S, 44, 13, 1, I, E, I, S, 44, 101, 0, I, E}),
         "",
         {},
         {D::unknownCode, D::unknownCode}},
        {B({I, S, 44, 1, 0, I, E, I, S, 44, 5, I, E, I, S, 44, 9, 0, I, E}),
         "",
         {},
         {D::wrongLength, D::wrongLength, D::wrongLength}},
        {B({I, S, I, E, I, S, 44, I, E}) + "e", "e", {}, {D::wrongLength, D::wrongLength}},
    };
    for (const Case& c : cases) {
        const std::string_view wire = c.wire;
        for (std::size_t i = 0; i <= wire.size(); ++i) {
            for (std::size_t j = i; j <= wire.size(); ++j) {
                const Read read =
                    FeedIn({wire.substr(0, i), wire.substr(i, j - i), wire.substr(j)});
                const std::string where = testing::PrintToString(c.wire) + " split at " +
                                          std::to_string(i) + ", " + std::to_string(j);
                ASSERT_EQ(read.data, c.data) << where;
                ASSERT_EQ(read.commands, c.commands) << where;
                ASSERT_EQ(read.dropped, c.dropped) << where;
                ASSERT_EQ(read.reply, c.reply) << where;
            }
        }
    }
}

TEST(TelnetCodec, EveryByteValuePassesBothWays) {
    std::string all;
    for (int value = 0; value < 256; ++value)
        all += char(value);
    const std::string wire = CTelnetCodec::Escape(all + all);
    EXPECT_EQ(wire.size(), 2 * 257u);
    CTelnetCodec codec;
    TelnetInput in;
    codec.Feed(B({IAC, WILL, BINARY}), in);
    std::string data;
    for (char byte : wire) {
        codec.Feed(std::string_view(&byte, 1), in);
        data += in.data;
    }
    EXPECT_EQ(data, all + all);
    // A peer without BINARY sends a bare CR as CR NUL.
    CTelnetCodec text;
    text.Feed("a\r\0b\r\n\0"sv, in);
    EXPECT_EQ(in.data, "a\rb\r\n\0"sv);
}

TEST(TelnetCodec, AnswersCarryTheCodePlusOneHundredWithIacDoubled) {
    const int I = IAC;
    const std::pair<std::string, std::string> cases[] = {
        {CTelnetCodec::AnswerBaud(9600), B({I, SB, 44, 101, 0, 0, 0x25, 0x80, I, SE})},
        {CTelnetCodec::AnswerBaud(0xFF00FF), B({I, SB, 44, 101, 0, I, I, 0, I, I, I, SE})},
        {CTelnetCodec::AnswerByte(PURGE_DATA, 3), B({I, SB, 44, 112, 3, I, SE})},
        {CTelnetCodec::NotifyModemState(0xFF), B({I, SB, 44, 107, I, I, I, SE})},
        {CTelnetCodec::NotifyLineState(0x60), B({I, SB, 44, 106, 0x60, I, SE})},
        {CTelnetCodec::AnswerSignature("V 1"), B({I, SB, 44, 100, 'V', ' ', '1', I, SE})},
        {CTelnetCodec::Answer(FLOWCONTROL_SUSPEND, ""), B({I, SB, 44, 108, I, SE})},
    };
    for (const auto& [got, want] : cases)
        EXPECT_EQ(got, want);
}

TEST(TelnetCodec, NegotiationAnswersEachRequestOnceAndNeverAnAcknowledgement) {
    const int I = IAC;
    const std::string offer = B({I, WILL, 44, I, WILL, 0, I, DO, 0});
    struct Case {
        std::string before, after; // from the peer, before and after Start()
        std::string wire;          // all we sent, Start() included
        std::vector<int> ours, peers;
    };
    const Case cases[] = {
        {"", "", offer, {}, {}},
        {"", B({I, DO, 44, I, DO, 0, I, WILL, 0}), offer, {44, 0}, {0}},
        {B({I, DO, 44}), B({I, DO, 44}), B({I, WILL, 44, I, WILL, 0, I, DO, 0}), {44}, {}},
        {B({I, WILL, 0, I, DO, 0}), "", B({I, DO, 0, I, WILL, 0, I, WILL, 44}), {0}, {0}},
        {"",
         B({I, DO, 3, I, WILL, 3, I, DO, 3, I, WILL, 3}),
         offer + B({I, WILL, 3, I, DO, 3}),
         {3},
         {3}},
        {"", B({I, WILL, 44}), offer + B({I, DO, 44}), {}, {44}},
        {"",
         B({I, DO, 1, I, WILL, 99, I, DO, 1, I, WILL, 99}),
         offer + B({I, WONT, 1, I, DONT, 99}),
         {},
         {}},
        {"", B({I, DONT, 0, I, WONT, 0, I, DONT, 0, I, WONT, 7, I, DONT, 7}), offer, {}, {}},
        {"", B({I, DO, 3, I, DONT, 3, I, DONT, 3}), offer + B({I, WILL, 3, I, WONT, 3}), {}, {}},
    };
    for (const Case& c : cases) {
        CTelnetCodec codec;
        TelnetInput in;
        codec.Feed(c.before, in);
        std::string wire = in.reply;
        wire += codec.Start();
        codec.Feed(c.after, in);
        wire += in.reply;
        EXPECT_EQ(wire, c.wire) << testing::PrintToString(c.before + "|" + c.after);
        for (int option : {0, 1, 3, 44, 99}) {
            const bool ours = std::find(c.ours.begin(), c.ours.end(), option) != c.ours.end();
            const bool peers = std::find(c.peers.begin(), c.peers.end(), option) != c.peers.end();
            EXPECT_EQ(codec.Ours(option), ours) << option;
            EXPECT_EQ(codec.Peers(option), peers) << option;
        }
    }
}

TEST(TelnetCodec, AnEndlessSubnegotiationIsDroppedOnceAndNothingReachesTheData) {
    CTelnetCodec codec;
    TelnetInput in;
    Read read;
    codec.Feed(B({IAC, SB, 44, 0}), in);
    Add(read, in);
    const std::string block = "A" + B({IAC, IAC}) + "B";
    for (int i = 0; i < 10000; ++i) {
        codec.Feed(block, in);
        Add(read, in);
    }
    EXPECT_EQ(read.data, "");
    EXPECT_EQ(read.dropped, std::vector<TelnetDrop>{TelnetDrop::tooLong});
    codec.Feed(B({IAC, SE}) + "ok", in);
    EXPECT_EQ(in.data, "ok");
    EXPECT_TRUE(in.dropped.empty());
    EXPECT_EQ(TelnetDropText({TelnetDrop::tooLong, 44, 0, 256}),
              "a Telnet subnegotiation for option 44 (code 0, 256 bytes) was dropped: longer "
              "than 256 bytes");
}

} // namespace
