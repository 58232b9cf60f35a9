#include "bench/rig/TwoWay.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace rig {
namespace {

Clock::duration Span(double seconds) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

timespec Timeout(double seconds) {
    const auto ns = static_cast<long long>(std::max(0.0, seconds) * 1e9);
    return {static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
}

// One end that writes a stream: what is queued and how far it went out.
struct Writer {
    int fd;
    bool isSocket;
    Pattern& pattern;
    std::uint64_t queuedEnd;
    std::uint64_t sentEnd;
    std::vector<std::uint8_t> pending;
    std::size_t at = 0;

    void Queue(std::size_t count) {
        const std::size_t end = pending.size();
        pending.resize(end + count);
        pattern.Fill(queuedEnd, pending.data() + end, count);
        queuedEnd += count;
    }
    bool Idle() const { return at == pending.size(); }
    // Writes what is queued as far as the end takes it.
    void Push() {
        while (at < pending.size()) {
            const ssize_t n = isSocket ? send(fd, pending.data() + at, pending.size() - at,
                                              MSG_NOSIGNAL | MSG_DONTWAIT)
                                       : write(fd, pending.data() + at, pending.size() - at);
            if (n <= 0) {
                break;
            }
            at += static_cast<std::size_t>(n);
            sentEnd += static_cast<std::uint64_t>(n);
        }
        if (at == pending.size()) {
            pending.clear();
            at = 0;
        }
    }
};

void Settle(PhaseResult& r, StreamChecker& checker, std::uint64_t start, std::uint64_t sentEnd) {
    checker.Finish(sentEnd);
    r.sent = sentEnd - start;
    r.received = checker.Received();
    r.delivered = checker.Matched();
    r.altered = checker.Altered();
    r.extra = checker.Extra();
    r.lost = checker.Skipped() + (sentEnd - std::min(checker.Position(), sentEnd));
}

// Waits at most `seconds` for either end: how many are ready, -1 when the wait failed.
int WaitEither(pollfd (&fds)[2], double seconds) {
    const timespec timeout = Timeout(seconds);
    const int ready = ppoll(fds, 2, &timeout, nullptr);
    return ready < 0 && errno == EINTR ? 0 : ready;
}

// Reads whatever the descriptor has; false when it reached its end or failed.
bool ReadSome(int fd, std::vector<std::uint8_t>& buffer, ssize_t& n) {
    n = read(fd, buffer.data(), buffer.size());
    return n > 0 || (n < 0 && (errno == EAGAIN || errno == EINTR));
}

// Reads what an end of the wait has when it reported one of `events`: the count (0 for
// nothing), -1 when the end was reached or the read failed.
ssize_t ReadReady(const pollfd& end, short events, std::vector<std::uint8_t>& buffer) {
    if (!(end.revents & events))
        return 0;
    ssize_t n = 0;
    if (!ReadSome(end.fd, buffer, n))
        return -1;
    return std::max<ssize_t>(n, 0);
}

// Waits at most `seconds` for either end, then reads what the server sent: the count (0 for
// nothing), or -1 when the wait failed or the server's connection ended (then `closed` is set).
ssize_t WaitAndReadServer(pollfd (&fds)[2], double seconds, std::vector<std::uint8_t>& buffer,
                          bool& closed) {
    if (WaitEither(fds, seconds) < 0)
        return -1;
    const ssize_t n = ReadReady(fds[0], POLLIN | POLLHUP | POLLERR, buffer);
    if (n < 0)
        closed = true;
    return n;
}

} // namespace

TwoWayResult RunTwoWay(const TwoWayPlan& plan, Pty& pty, Server& server, Streams& streams,
                       Contender& contender) {
    TwoWayResult result;
    const std::uint64_t s2tStart = streams.serialToTcpOffset;
    const std::uint64_t t2sStart = streams.tcpToSerialOffset;
    StreamChecker toTcp(streams.serialToTcp, s2tStart);
    StreamChecker toSerial(streams.tcpToSerial, t2sStart);
    Writer device{pty.master, false, streams.serialToTcp, s2tStart, s2tStart, {}};
    Writer peer{server.client, true, streams.tcpToSerial, t2sStart, t2sStart, {}};
    const ProcStats before = ReadProcStats(contender.pid);

    const auto start = Clock::now();
    const auto sendEnd = start + Span(plan.seconds);
    const double chunkSeconds = static_cast<double>(kChunk) / kLineRate;
    std::uint64_t chunks = 0, blocks = 0;
    bool sending = true;
    Clock::time_point sendDone{};
    auto lastArrival = start, lastAliveCheck = start;
    std::vector<std::uint8_t> buffer(64 * 1024);

    while (true) {
        auto now = Clock::now();
        if (sending && now >= sendEnd) {
            sending = false;
        }
        if (sending) {
            for (; start + Span(chunkSeconds * static_cast<double>(chunks)) <= now; ++chunks) {
                device.Queue(kChunk);
            }
            for (; start + Span(plan.blockSeconds * static_cast<double>(blocks)) <= now; ++blocks) {
                const std::size_t span = plan.maxBlock - plan.minBlock + 1;
                peer.Queue(plan.minBlock + (blocks * 7919) % span);
            }
        }
        device.Push();
        peer.Push();
        if (!sending && device.Idle() && peer.Idle() && sendDone == Clock::time_point{}) {
            sendDone = now;
        }
        if (sendDone != Clock::time_point{}) {
            if (toTcp.Position() >= device.sentEnd && toSerial.Position() >= peer.sentEnd) {
                break;
            }
            const double quiet = Seconds(now - std::max(lastArrival, sendDone));
            if (quiet >= plan.quietSeconds || Seconds(now - sendDone) >= plan.maxDrainSeconds)
                break;
        }
        if (Gone(contender, now, lastAliveCheck)) {
            result.contenderGone = true;
            break;
        }

        pollfd fds[2] = {
            {server.client, static_cast<short>(POLLIN | (peer.Idle() ? 0 : POLLOUT)), 0},
            {pty.master, static_cast<short>(POLLIN | (device.Idle() ? 0 : POLLOUT)), 0}};
        double wait = 0.05;
        if (sending) {
            const auto nextChunk = start + Span(chunkSeconds * static_cast<double>(chunks));
            const auto nextBlock = start + Span(plan.blockSeconds * static_cast<double>(blocks));
            wait = std::min(wait, Seconds(std::min(nextChunk, nextBlock) - now));
        }
        const ssize_t fromServer = WaitAndReadServer(fds, wait, buffer, result.connectionClosed);
        if (fromServer < 0)
            break;
        if (fromServer > 0) {
            lastArrival = Clock::now();
            toTcp.Feed(buffer.data(), static_cast<std::size_t>(fromServer), device.sentEnd);
        }
        if (const ssize_t fromDevice = ReadReady(fds[1], POLLIN, buffer); fromDevice > 0) {
            lastArrival = Clock::now();
            toSerial.Feed(buffer.data(), static_cast<std::size_t>(fromDevice), peer.sentEnd);
        }
    }

    Settle(result.toTcp, toTcp, s2tStart, device.sentEnd);
    Settle(result.toSerial, toSerial, t2sStart, peer.sentEnd);
    const ProcStats after = ReadProcStats(contender.pid);
    if (before.ok && after.ok) {
        result.cpuSeconds = after.cpuSeconds - before.cpuSeconds;
    }
    streams.serialToTcpOffset = device.sentEnd;
    streams.tcpToSerialOffset = peer.sentEnd;
    return result;
}

RequestResult RunRequests(const RequestPlan& plan, Pty& pty, Server& server, Streams& streams,
                          Contender& contender) {
    RequestResult result;
    const ProcStats before = ReadProcStats(contender.pid);
    const auto start = Clock::now();
    const auto end = start + Span(plan.seconds);
    std::vector<std::uint8_t> buffer(64 * 1024);
    std::vector<std::uint8_t> expected, got;
    auto lastAliveCheck = start;

    enum class Stage { Ask, DeviceReads, DeviceWaits, ServerReads };
    Stage stage = Stage::Ask;
    Clock::time_point asked{}, answerAt{};
    std::size_t answerBytes = 0;

    // Writes all bytes to a descriptor that takes small writes at once.
    auto writeAll = [](int fd, bool isSocket, const std::vector<std::uint8_t>& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = isSocket
                                  ? send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL)
                                  : write(fd, bytes.data() + done, bytes.size() - done);
            if (n <= 0 && errno != EAGAIN && errno != EINTR) {
                return false;
            }
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            } else {
                pollfd p{fd, POLLOUT, 0};
                poll(&p, 1, 10);
            }
        }
        return true;
    };
    auto fill = [](Pattern& pattern, std::uint64_t& offset, std::size_t count) {
        std::vector<std::uint8_t> bytes(count);
        pattern.Fill(offset, bytes.data(), count);
        offset += count;
        return bytes;
    };

    while (true) {
        auto now = Clock::now();
        if (stage == Stage::Ask) {
            if (now >= end) {
                break;
            }
            expected = fill(streams.tcpToSerial, streams.tcpToSerialOffset, plan.requestBytes);
            got.clear();
            asked = Clock::now();
            if (!writeAll(server.client, true, expected)) {
                result.connectionClosed = true;
                break;
            }
            stage = Stage::DeviceReads;
            continue;
        }
        if (stage == Stage::DeviceWaits && now >= answerAt) {
            const std::size_t span = plan.maxAnswer - plan.minAnswer + 1;
            answerBytes = plan.minAnswer + (result.rounds * 37) % span;
            expected = fill(streams.serialToTcp, streams.serialToTcpOffset, answerBytes);
            got.clear();
            writeAll(pty.master, false, expected);
            stage = Stage::ServerReads;
        }
        if (Seconds(now - asked) >= plan.roundTimeoutSeconds) {
            ++result.unanswered;
            break;
        }
        if (Gone(contender, now, lastAliveCheck)) {
            result.contenderGone = true;
            break;
        }

        pollfd fds[2] = {{server.client, POLLIN, 0}, {pty.master, POLLIN, 0}};
        double wait = 0.05;
        if (stage == Stage::DeviceWaits) {
            wait = std::min(wait, Seconds(answerAt - now));
        }
        const ssize_t n = WaitAndReadServer(fds, wait, buffer, result.connectionClosed);
        if (n < 0)
            break;
        if (n > 0 && stage == Stage::ServerReads) {
            got.insert(got.end(), buffer.begin(), buffer.begin() + n);
            if (got.size() >= expected.size()) {
                const auto done = Clock::now();
                if (got != expected) {
                    ++result.altered;
                } else {
                    ++result.rounds;
                    result.roundTripMs.push_back(Seconds(done - asked) * 1000.0);
                }
                stage = Stage::Ask;
            }
        } else if (n > 0) {
            ++result.altered; // bytes from the device that nobody asked for
        }
        if (const ssize_t fromDevice = ReadReady(fds[1], POLLIN, buffer); fromDevice > 0) {
            if (stage == Stage::DeviceReads) {
                got.insert(got.end(), buffer.begin(), buffer.begin() + fromDevice);
                if (got.size() >= expected.size()) {
                    if (got != expected) {
                        ++result.altered;
                    }
                    answerAt = Clock::now() + Span(plan.answerDelayMs / 1000.0);
                    stage = Stage::DeviceWaits;
                }
            } else {
                ++result.altered;
            }
        }
    }
    result.seconds = Seconds(Clock::now() - start);
    const ProcStats after = ReadProcStats(contender.pid);
    if (before.ok && after.ok) {
        result.cpuSeconds = after.cpuSeconds - before.cpuSeconds;
    }
    return result;
}

} // namespace rig
