// The send backlog on its own, against a peer that takes a few bytes at a time: a socket pair
// whose buffers are as small as the system allows, so that most of what is sent has to wait.
#include "app/bridge/SendBacklog.h"
#include "support/Pattern.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fcntl.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

class SendBacklogTest : public ::testing::Test {
protected:
    void SetUp() override {
        int fds[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
        ours = fds[0];
        peer = fds[1];
        int size = 1; // the system rounds it up to its minimum
        ::setsockopt(ours, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
        ::setsockopt(peer, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        // The bridge's socket never waits for the server.
        ::fcntl(ours, F_SETFL, ::fcntl(ours, F_GETFL) | O_NONBLOCK);
    }
    void TearDown() override {
        ::close(ours);
        ::close(peer);
    }
    // The peer takes at most `most` bytes of what has arrived, without waiting.
    void Take(std::size_t most) {
        char buf[4096];
        while (most > 0) {
            const ssize_t n = ::recv(peer, buf, std::min(most, sizeof buf), MSG_DONTWAIT);
            if (n <= 0)
                return;
            got.append(buf, static_cast<std::size_t>(n));
            most -= static_cast<std::size_t>(n);
        }
    }
    // Offers the next `size` bytes of the stream; they count as sent when the backlog took them.
    bool Offer(CSendBacklog& backlog, std::size_t size) {
        const std::string block = testing_support::Pattern(sent.size(), size);
        if (!backlog.Send(ours, block.data(), block.size()))
            return false;
        sent += block;
        return true;
    }
    // The peer reads again until everything the backlog took has arrived.
    void ReadToTheEnd(CSendBacklog& backlog) {
        for (int round = 0; round < 1000000 && got.size() < sent.size(); ++round) {
            Take(1000);
            ASSERT_TRUE(backlog.Flush(ours)) << backlog.LastError();
        }
        EXPECT_EQ(backlog.Waiting(), 0u);
    }

    int ours = -1;
    int peer = -1;
    std::string sent; // what the backlog took, in order
    std::string got;  // what the peer received
};

TEST_F(SendBacklogTest, OrderAndContentSurviveManyPartialSendsAndCompactions) {
    CSendBacklog backlog;
    std::size_t most = 0;
    // Three times the peer falls far behind and then catches up, while blocks of every size keep
    // coming: what was sent is cut from the front of the buffer many times over.
    for (int round = 0; round < 3; ++round) {
        for (std::size_t i = 0; backlog.Waiting() < 3 * SEND_BACKLOG_COMPACT_AT; ++i) {
            ASSERT_TRUE(Offer(backlog, 1 + (i * 7919) % 3096));
            Take(200);
            most = std::max(most, backlog.Waiting());
        }
        for (std::size_t i = 0; backlog.Waiting() > 2000; ++i) {
            Take(1 + (i * 104729) % 5000);
            if (i % 3 == 0)
                ASSERT_TRUE(Offer(backlog, 1 + i % 700));
            else
                ASSERT_TRUE(backlog.Flush(ours));
        }
    }
    ReadToTheEnd(backlog);
    EXPECT_GE(most, 3 * SEND_BACKLOG_COMPACT_AT);
    EXPECT_GT(sent.size(), 9 * SEND_BACKLOG_COMPACT_AT);
    ASSERT_EQ(got.size(), sent.size());
    EXPECT_TRUE(got == sent) << "the peer got altered or reordered bytes";
}

TEST_F(SendBacklogTest, ABlockThatWouldPassTheBoundIsRefusedWhole) {
    constexpr std::size_t kLimit = 100000;
    CSendBacklog backlog(kLimit);
    // The peer reads nothing: fill the socket, then the backlog up to a little below its bound.
    while (backlog.Waiting() < kLimit - 5000)
        ASSERT_TRUE(Offer(backlog, 3000));
    const std::size_t room = kLimit - backlog.Waiting();
    const std::string refused(room + 1, 'X');
    EXPECT_FALSE(backlog.Send(ours, refused.data(), refused.size()));
    EXPECT_EQ(backlog.Waiting(), kLimit - room);
    EXPECT_TRUE(Offer(backlog, room)); // exactly up to the bound is still taken
    EXPECT_EQ(backlog.Waiting(), kLimit);
    EXPECT_FALSE(backlog.Send(ours, "X", 1));
    EXPECT_EQ(backlog.Waiting(), kLimit);

    // Once the peer reads, exactly the blocks taken arrive, none of what was refused.
    ReadToTheEnd(backlog);
    ASSERT_EQ(got.size(), sent.size());
    EXPECT_TRUE(got == sent) << "the peer got bytes of a refused block, or lost some";
}

// A connection dies after nSent bytes of which the server acknowledged nAcked: on the next
// connection the server must get exactly the bytes after those, as far as they were kept (at
// least the last 4 MiB), and nothing older.
TEST_F(SendBacklogTest, WhatTheServerDidNotAcknowledgeGoesAgainExactly) {
    constexpr std::size_t kKeep = SEND_BACKLOG_LIMIT;
    constexpr std::size_t kLong = 2 * kKeep + 300000; // long enough to trim what is kept
    int size = 1 << 20;                               // a long run passes quickly
    ::setsockopt(ours, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    ::setsockopt(peer, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    const std::pair<std::size_t, std::int64_t> cases[] = {
        {1000, 0},              // nothing acknowledged yet: everything goes again
        {1000, 999},            // one byte
        {1000, 1000},           // nothing
        {1000, -1},             // the system cannot tell: nothing, and nothing counted lost
        {kLong, kLong - 5000},  // after a long run, the short tail
        {kLong, kLong - kKeep}, // exactly what is surely kept
        {kLong, 0},             // more than was kept: the newest kept bytes, the rest counted
    };
    for (const auto& [nSent, nAcked] : cases) {
        SCOPED_TRACE("sent " + std::to_string(nSent) + ", acknowledged " + std::to_string(nAcked));
        CSendBacklog backlog;
        backlog.KeepSent(kKeep);
        sent.clear();
        got.clear();
        while (sent.size() < nSent) {
            ASSERT_TRUE(Offer(backlog, std::min<std::size_t>(3096, nSent - sent.size())));
            Take(1 << 20);
        }
        ReadToTheEnd(backlog);
        ASSERT_TRUE(got == sent);

        const std::size_t nUnacked = nAcked < 0 ? 0 : nSent - static_cast<std::size_t>(nAcked);
        std::size_t nLost = 0;
        const std::size_t nBack = backlog.Rewind(nAcked, &nLost);
        EXPECT_EQ(nBack + nLost, nUnacked);
        EXPECT_GE(nBack, std::min(nUnacked, kKeep));
        got.clear();
        sent = sent.substr(sent.size() - nBack);
        ReadToTheEnd(backlog);
        EXPECT_TRUE(got == sent) << "the bytes sent again are not those the server lacked";
    }
}

} // namespace
