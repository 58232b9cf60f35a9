// varnel-headless listening, run as a child process: many clients at once at line rate, a client
// that dies without a word, and listening with no client.
#include "HeadlessRun.h"
#include "app/bridge/OutageText.h"
#include "support/NamespacedServer.h"
#include "support/Pattern.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <thread>

namespace {

using namespace std::chrono_literals;
using namespace headless_test;
using testing_support::ChildProcess;
using testing_support::NamespacedServer;
using testing_support::TempWorkDir;
using testing_support::WaitUntil;

// Sixteen clients at once while the device sends at line rate: each gets every byte, in order.
TEST(HeadlessListen, SixteenClientsAtLineRateEachGetTheWholeStream) {
    TempWorkDir dir;
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    const std::uint16_t port = WriteListening(pty, "CLIENTS=16\r\n", "REOPEN=0\r\nFAST=1\r\n");
    ChildProcess program(ProgramPath(), ProgramArgs({}));
    ASSERT_TRUE(program.WaitForError(" serial 串口COM3已打开", kDeadline)) << program.Error();
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < 16; ++i)
        clients.push_back(std::make_unique<Client>(port));
    ASSERT_TRUE(program.WaitForError(" network 已连接 16 个客户端 (", kDeadline))
        << program.Error();
    // 115200 baud: 11,520 bytes a second, as 230-byte lines every 20 ms, for two seconds.
    const std::string stream = testing_support::Pattern(0, 230 * 100);
    const auto start = std::chrono::steady_clock::now();
    for (std::size_t at = 0; at < stream.size(); at += 230) {
        std::this_thread::sleep_until(start + at / 230 * 20ms);
        ASSERT_TRUE(pty.Send(stream.substr(at, 230)));
        for (auto& client : clients)
            client->Take();
    }
    EXPECT_TRUE(WaitUntil(
        [&] {
            bool all = true;
            for (auto& client : clients)
                all = (client->Take(), client->got.size() >= stream.size()) && all;
            return all;
        },
        kDeadline));
    for (auto& client : clients)
        EXPECT_TRUE(client->got == stream) << client->got.size() << " of " << stream.size();
    program.Signal(SIGTERM);
    EXPECT_EQ(program.WaitExit(kDeadline), 0) << program.Error();
}

// A client whose path dies without a word (it sits in a network namespace of the test's own) holds
// the only place until keepalive or the wait for acknowledgements finds it, within about 30 s;
// then a new client is served. With TAKEOVER a new client takes the silent one's place at once.
TEST(HeadlessListen, AClientThatDiesSilentlyIsFoundOrReplacedAndANewOneServed) {
    for (const bool takeover : {false, true}) {
        SCOPED_TRACE(takeover ? "TAKEOVER=1" : "TAKEOVER=0");
        TempWorkDir dir;
        PtyPair pty;
        ASSERT_TRUE(pty.Ok());
        NamespacedServer far;
        ASSERT_EQ(far.Problem(), "");
        const std::uint16_t port =
            WriteListening(pty,
                           "ServerIP=0.0.0.0\r\nTAKEOVER=" + std::to_string(takeover) +
                               "\r\nALLOW=127.0.0.1, " + NamespacedServer::kAddress + "\r\n",
                           "REOPEN=0\r\n");
        ChildProcess program(ProgramPath(), ProgramArgs({}));
        ASSERT_TRUE(program.WaitForError(" serial 串口COM3已打开", kDeadline)) << program.Error();
        ASSERT_TRUE(far.Connect(port));
        ASSERT_TRUE(
            program.WaitForError(" network 已连接 1 个客户端 (", kDeadline) &&
            program.WaitForError("; " + std::string(NamespacedServer::kAddress) + ":", kDeadline))
            << program.Error();
        ASSERT_TRUE(pty.Send("before the cut"));
        std::string got;
        EXPECT_TRUE(WaitUntil([&] { return (got += far.Take()).size() >= 14; }, kDeadline));
        EXPECT_EQ(got, "before the cut");

        ASSERT_TRUE(far.CutPath());
        ASSERT_TRUE(pty.Send("never acknowledged"));
        const auto cut = std::chrono::steady_clock::now();
        if (!takeover) {
            EXPECT_TRUE(WaitUntil(
                [] {
                    return TheEvents().find(" left: it stopped answering (timed out)") !=
                           std::string::npos;
                },
                40s))
                << TheEvents();
            EXPECT_GE(std::chrono::steady_clock::now() - cut, 20s);
        }
        Client fresh(port);
        ASSERT_TRUE(fresh.connected);
        ASSERT_TRUE(program.WaitForError("; 127.0.0.1:", kDeadline)) << program.Error();
        if (takeover) {
            EXPECT_LT(std::chrono::steady_clock::now() - cut, 3s);
        }
        ASSERT_TRUE(pty.Send("after"));
        EXPECT_TRUE(
            WaitUntil([&] { return fresh.Take(), fresh.got.ends_with("after"); }, kDeadline));
        // The device's bytes of the cut went to the client there was when the program read them.
        EXPECT_TRUE(fresh.got == "after" || fresh.got == "never acknowledgedafter") << fresh.got;
        ASSERT_TRUE(fresh.Send("hi"));
        EXPECT_EQ(pty.Receive(2, kDeadline), "hi");
        program.Signal(SIGTERM);
        EXPECT_EQ(program.WaitExit(kDeadline), 0) << program.Error();
        EXPECT_EQ(testing_support::CountOf(TheEvents(), takeover
                                                            ? " left: a new client took its place"
                                                            : " left: it stopped answering"),
                  1u)
            << TheEvents();
    }
}

// Listening with no client while the device talks: the count of what reached no client moves,
// the words do not, so the lines stay few.
TEST(HeadlessListen, IdleListeningWhileTheDeviceTalksIsQuiet) {
    TempWorkDir dir;
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    WriteListening(pty, "", "HEX=0\r\nREOPEN=0\r\n");
    ChildProcess program(ProgramPath(), ProgramArgs({}));
    ASSERT_TRUE(program.WaitForError(" serial 串口COM3已打开", kDeadline)) << program.Error();
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 40; ++i) {
        std::this_thread::sleep_until(start + i * 100ms);
        ASSERT_TRUE(pty.Send("reading " + std::to_string(i) + "\r\n"));
    }
    ASSERT_TRUE(
        WaitUntil([] { return TheLog().find("reading 39") != std::string::npos; }, kDeadline));
    program.Signal(SIGTERM);
    EXPECT_EQ(program.WaitExit(kDeadline), 0) << program.Error();
    // Two lines at start, one when bytes first reach no client, two at the end.
    EXPECT_LE(testing_support::CountOf(program.Error(), "\n"), 5u) << program.Error();
}

// An events file that cannot be written (a folder holds its name) is said once, and the clients
// whose lines it would hold are served all the same.
TEST(HeadlessListen, AnEventsFileThatCannotBeWrittenIsSaidOnce) {
    TempWorkDir dir;
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    const std::uint16_t port = WriteListening(pty, "", "REOPEN=0\r\n");
    SYSTEMTIME st{};
    GetLocalTime(&st);
    std::filesystem::create_directory(EventsFileName(st));
    ChildProcess program(ProgramPath(), ProgramArgs({}));
    ASSERT_TRUE(program.WaitForError(" serial 串口COM3已打开", kDeadline)) << program.Error();
    for (const std::string word : {"one", "two", "three"}) {
        Client client(port);
        ASSERT_TRUE(client.connected);
        ASSERT_TRUE(client.Send(word));
        EXPECT_EQ(pty.Receive(word.size(), kDeadline), word);
    }
    program.Signal(SIGTERM);
    EXPECT_EQ(program.WaitExit(kDeadline), 0) << program.Error();
    EXPECT_EQ(testing_support::CountOf(program.Error(), "events file"), 1u) << program.Error();
}

} // namespace
