#include "bench/rig/Phase.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace rig {
namespace {

// A write end that may be a socket (send without SIGPIPE) or the pty master.
ssize_t WriteSome(int fd, bool isSocket, const std::uint8_t* data, std::size_t count) {
    return isSocket ? send(fd, data, count, MSG_NOSIGNAL) : write(fd, data, count);
}

} // namespace

const char* DirectionName(Direction d) {
    return d == Direction::SerialToTcp ? "s2t" : "t2s";
}

double Percentile(std::vector<double> values, double share) {
    if (values.empty()) {
        return NAN;
    }
    std::sort(values.begin(), values.end());
    auto rank = static_cast<std::size_t>(std::ceil(share * static_cast<double>(values.size())));
    rank = std::clamp<std::size_t>(rank, 1, values.size());
    return values[rank - 1];
}

PhaseResult RunPhase(const PhasePlan& plan, Pty& pty, Server& server, Streams& streams,
                     Contender& contender) {
    const bool toTcp = plan.direction == Direction::SerialToTcp;
    Pattern& pattern = plan.lines ? streams.serialLines
                       : toTcp    ? streams.serialToTcp
                                  : streams.tcpToSerial;
    std::uint64_t& offset = plan.lines ? streams.serialLinesOffset
                            : toTcp    ? streams.serialToTcpOffset
                                       : streams.tcpToSerialOffset;
    const int writer = toTcp ? pty.master : server.client;
    const int reader = toTcp ? server.client : pty.master;
    const bool writerIsSocket = !toTcp;

    PhaseResult result;
    StreamChecker checker(pattern, offset);
    const ProcStats before = ReadProcStats(contender.pid);

    const auto start = Clock::now();
    const auto sendEnd = start + std::chrono::duration_cast<Clock::duration>(
                                     std::chrono::duration<double>(plan.seconds));
    const std::size_t chunk = plan.chunk;
    const auto period = std::chrono::duration<double>(
        plan.period > 0 ? plan.period : static_cast<double>(chunk) / kLineRate);

    std::vector<std::uint8_t> pending;
    std::size_t pendingAt = 0;
    std::uint64_t queuedEnd = offset; // stream offset up to which bytes were queued
    std::uint64_t sentEnd = offset;   // stream offset up to which bytes were written
    std::uint64_t chunksQueued = 0;
    std::vector<Clock::time_point> chunkWritten;
    std::size_t nextLatency = 0;
    bool sending = true;
    Clock::time_point sendDone{};
    auto lastArrival = start;
    auto lastAliveCheck = start;
    std::vector<std::uint8_t> buffer(64 * 1024);

    auto queue = [&](std::size_t count) {
        const std::size_t at = pending.size();
        pending.resize(at + count);
        pattern.Fill(queuedEnd, pending.data() + at, count);
        queuedEnd += count;
    };

    while (true) {
        auto now = Clock::now();
        if (sending && now >= sendEnd) {
            sending = false;
            result.deliveredWhileSending = checker.Matched();
        }
        if (sending) {
            if (plan.paced) {
                while (start + std::chrono::duration_cast<Clock::duration>(
                                   period * static_cast<double>(chunksQueued)) <=
                       now) {
                    queue(chunk);
                    ++chunksQueued;
                }
            } else {
                while (pending.size() - pendingAt < 4096 &&
                       queuedEnd - checker.Position() < plan.maxInFlight) {
                    queue(4096);
                }
            }
        }

        // Write what is queued, as far as the write end takes it.
        while (pendingAt < pending.size()) {
            const ssize_t n = WriteSome(writer, writerIsSocket, pending.data() + pendingAt,
                                        pending.size() - pendingAt);
            if (n <= 0) {
                break;
            }
            pendingAt += static_cast<std::size_t>(n);
            sentEnd += static_cast<std::uint64_t>(n);
            now = Clock::now();
            while (sentEnd >= offset + (chunkWritten.size() + 1) * chunk) {
                chunkWritten.push_back(now);
            }
        }
        if (pendingAt == pending.size()) {
            pending.clear();
            pendingAt = 0;
        } else if (pendingAt > 1024 * 1024) {
            pending.erase(pending.begin(),
                          pending.begin() + static_cast<std::ptrdiff_t>(pendingAt));
            pendingAt = 0;
        }
        if (!sending && pending.empty() && sendDone == Clock::time_point{}) {
            sendDone = now;
            result.sendSeconds = Seconds(now - start);
        }

        // The end of a phase: everything arrived, or the flow went quiet, or too long.
        if (sendDone != Clock::time_point{}) {
            if (checker.Position() >= sentEnd && checker.Received() > 0) {
                break;
            }
            const double quiet = Seconds(now - std::max(lastArrival, sendDone));
            if (quiet >= plan.quietSeconds || Seconds(now - sendDone) >= plan.maxDrainSeconds) {
                break;
            }
        }
        if (Gone(contender, now, lastAliveCheck)) {
            result.contenderGone = true;
            break;
        }

        pollfd fds[2] = {{reader, POLLIN, 0},
                         {writer, static_cast<short>(POLLIN | (pending.empty() ? 0 : POLLOUT)), 0}};
        auto wait = std::chrono::duration<double>(0.05);
        if (sending && plan.paced) {
            const auto due = start + std::chrono::duration_cast<Clock::duration>(
                                         period * static_cast<double>(chunksQueued));
            wait = std::min(wait, std::chrono::duration<double>(std::max(0.0, Seconds(due - now))));
        }
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
        const timespec timeout{static_cast<time_t>(ns / 1000000000),
                               static_cast<long>(ns % 1000000000)};
        const int ready = ppoll(fds, 2, &timeout, nullptr);
        if (ready < 0 && errno != EINTR) {
            break;
        }
        if (ready <= 0) {
            continue;
        }
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t n = read(reader, buffer.data(), buffer.size());
            if (n > 0) {
                now = Clock::now();
                lastArrival = now;
                checker.Feed(buffer.data(), static_cast<std::size_t>(n), sentEnd);
                while (nextLatency < chunkWritten.size() &&
                       checker.Position() >= offset + (nextLatency + 1) * chunk) {
                    result.latencyMs.push_back(Seconds(now - chunkWritten[nextLatency]) * 1000.0);
                    ++nextLatency;
                }
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                result.connectionClosed = true;
                break;
            }
        }
        if (fds[1].revents & POLLIN) {
            // Nothing should come back at the sending end; count it and throw it away.
            const ssize_t n = read(writer, buffer.data(), buffer.size());
            if (n > 0) {
                result.stray += static_cast<std::uint64_t>(n);
            } else if (n == 0 && writerIsSocket) {
                result.connectionClosed = true;
                break;
            }
        }
    }

    checker.Finish(sentEnd);
    const ProcStats after = ReadProcStats(contender.pid);
    if (before.ok && after.ok) {
        result.cpuSeconds = after.cpuSeconds - before.cpuSeconds;
    }
    result.sent = sentEnd - offset;
    result.received = checker.Received();
    result.delivered = checker.Matched();
    result.altered = checker.Altered();
    result.extra = checker.Extra();
    const std::uint64_t reached = std::min(checker.Position(), sentEnd);
    result.lost = checker.Skipped() + (sentEnd - reached);
    if (sending) {
        result.deliveredWhileSending = checker.Matched();
        result.sendSeconds = Seconds(Clock::now() - start);
    }
    offset = sentEnd;
    return result;
}

} // namespace rig
