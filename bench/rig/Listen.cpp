#include "bench/rig/Listen.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace rig {
namespace {

sockaddr_in Loopback(std::uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    return addr;
}

// One reading client: its check along the stream, its latencies and its gaps.
struct Reader {
    int fd;
    StreamChecker checker;
    GapMeter gaps;
    std::size_t nextLatency = 0;
};

} // namespace

int Dial(std::uint16_t port, Clock::time_point deadline, int receiveBuffer) {
    const sockaddr_in addr = Loopback(port);
    while (true) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            return -1;
        }
        if (receiveBuffer > 0) {
            setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        }
        if (connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) {
            const int one = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            const int flags = fcntl(fd, F_GETFL);
            fcntl(fd, F_SETFL, flags | O_NONBLOCK);
            return fd;
        }
        close(fd);
        if (Clock::now() >= deadline) {
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

bool Closed(int fd) {
    // The contender's end of a loopback connection is a row of /proc/net/tcp as well, with our
    // addresses swapped. It leaves the established state as soon as the contender closes or
    // gives up, even while its last bytes and its end still wait for a window we never open.
    sockaddr_in self{}, peer{};
    socklen_t selfLength = sizeof self, peerLength = sizeof peer;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&self), &selfLength) != 0 ||
        getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0) {
        return true;
    }
    char local[32], remote[32];
    std::snprintf(local, sizeof local, "%08X:%04X", peer.sin_addr.s_addr, ntohs(peer.sin_port));
    std::snprintf(remote, sizeof remote, "%08X:%04X", self.sin_addr.s_addr, ntohs(self.sin_port));
    std::ifstream table("/proc/net/tcp");
    for (std::string line; std::getline(table, line);) {
        std::istringstream fields(line);
        std::string slot, from, to, state;
        if (fields >> slot >> from >> to >> state && from == local && to == remote) {
            return state != "01"; // 01: established
        }
    }
    return true;
}

std::uint16_t FreePort() {
    Server probe;
    std::string error;
    const std::uint16_t port = probe.Listen(error) ? probe.port : 0;
    probe.Close();
    return port;
}

FanOutResult RunFanOut(const PhasePlan& plan, Pty& pty, const std::vector<int>& clients,
                       Streams& streams, Contender& contender) {
    Pattern& pattern = plan.lines ? streams.serialLines : streams.serialToTcp;
    std::uint64_t& offset = plan.lines ? streams.serialLinesOffset : streams.serialToTcpOffset;
    FanOutResult result;
    const ProcStats before = ReadProcStats(contender.pid);
    const auto start = Clock::now();
    std::vector<Reader> readers;
    for (const int fd : clients) {
        readers.push_back({fd, StreamChecker(pattern, offset), GapMeter(start)});
    }
    const auto period = std::chrono::duration<double>(
        plan.period > 0 ? plan.period : static_cast<double>(plan.chunk) / kLineRate);
    auto due = [&](std::uint64_t chunk) {
        return start +
               std::chrono::duration_cast<Clock::duration>(period * static_cast<double>(chunk));
    };
    const auto sendEnd = due(0) + std::chrono::duration_cast<Clock::duration>(
                                      std::chrono::duration<double>(plan.seconds));

    std::vector<std::uint8_t> pending;
    std::uint64_t queuedEnd = offset, sentEnd = offset, chunksQueued = 0;
    std::vector<Clock::time_point> chunkWritten;
    bool sending = true;
    Clock::time_point sendDone{};
    auto lastArrival = start, lastAliveCheck = start;
    std::vector<std::uint8_t> buffer(64 * 1024);
    auto allArrived = [&] {
        for (const Reader& r : readers) {
            if (r.checker.Position() < sentEnd) {
                return false;
            }
        }
        return true;
    };

    while (true) {
        auto now = Clock::now();
        if (sending && now >= sendEnd) {
            sending = false;
            for (Reader& r : readers) {
                r.gaps.Open(now);
            }
            // What the pty did not take by now was never sent: the contender stopped reading it.
            result.unsent = pending.size();
            pending.clear();
        }
        while (sending && due(chunksQueued) <= now) {
            const std::size_t at = pending.size();
            pending.resize(at + plan.chunk);
            pattern.Fill(queuedEnd, pending.data() + at, plan.chunk);
            queuedEnd += plan.chunk;
            ++chunksQueued;
        }
        if (!pending.empty()) {
            const ssize_t n = write(pty.master, pending.data(), pending.size());
            if (n > 0) {
                pending.erase(pending.begin(), pending.begin() + n);
                sentEnd += static_cast<std::uint64_t>(n);
                while (sentEnd >= offset + (chunkWritten.size() + 1) * plan.chunk) {
                    chunkWritten.push_back(now);
                }
            }
        }
        if (!sending && pending.empty() && sendDone == Clock::time_point{}) {
            sendDone = now;
        }
        if (sendDone != Clock::time_point{}) {
            const double quiet = Seconds(now - std::max(lastArrival, sendDone));
            if (allArrived() || quiet >= plan.quietSeconds ||
                Seconds(now - sendDone) >= plan.maxDrainSeconds) {
                break;
            }
        }
        if (Gone(contender, now, lastAliveCheck)) {
            result.contenderGone = true;
            break;
        }

        std::vector<pollfd> fds;
        for (const Reader& r : readers) {
            fds.push_back({r.fd, POLLIN, 0});
        }
        fds.push_back(
            {pty.master, static_cast<short>(POLLIN | (pending.empty() ? 0 : POLLOUT)), 0});
        double wait = 0.05;
        if (sending) {
            wait = std::min(wait, std::max(0.0, Seconds(due(chunksQueued) - now)));
        }
        const auto ns = static_cast<long long>(wait * 1e9);
        const timespec timeout{static_cast<time_t>(ns / 1000000000),
                               static_cast<long>(ns % 1000000000)};
        const int ready = ppoll(fds.data(), fds.size(), &timeout, nullptr);
        if (ready < 0 && errno != EINTR) {
            break;
        }
        if (ready <= 0) {
            continue;
        }
        now = Clock::now();
        for (std::size_t i = 0; i < readers.size(); ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) {
                continue;
            }
            Reader& r = readers[i];
            const ssize_t n = read(r.fd, buffer.data(), buffer.size());
            if (n > 0) {
                lastArrival = now;
                r.gaps.Arrive(now);
                r.checker.Feed(buffer.data(), static_cast<std::size_t>(n), sentEnd);
                while (r.nextLatency < chunkWritten.size() &&
                       r.checker.Position() >= offset + (r.nextLatency + 1) * plan.chunk) {
                    result.latencyMs.push_back(Seconds(now - chunkWritten[r.nextLatency]) * 1000.0);
                    ++r.nextLatency;
                }
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                result.connectionClosed = true;
            }
        }
        if (result.connectionClosed) {
            break;
        }
        if (fds.back().revents & POLLIN) {
            const ssize_t n = read(pty.master, buffer.data(), buffer.size());
            result.stray += n > 0 ? static_cast<std::uint64_t>(n) : 0;
        }
    }

    const ProcStats after = ReadProcStats(contender.pid);
    if (before.ok && after.ok) {
        result.cpuSeconds = after.cpuSeconds - before.cpuSeconds;
    }
    result.sent = sentEnd - offset;
    result.delivered = result.sent;
    const auto end = Clock::now();
    for (Reader& r : readers) {
        if (r.checker.Position() < sentEnd) {
            r.gaps.Open(end); // still waiting for bytes when the phase gave up
        }
        r.checker.Finish(sentEnd);
        const std::uint64_t reached = std::min(r.checker.Position(), sentEnd);
        result.delivered = std::min(result.delivered, r.checker.Matched());
        result.lost = std::max(result.lost, r.checker.Skipped() + (sentEnd - reached));
        result.altered += r.checker.Altered() + r.checker.Extra();
        result.largestGapMs = std::max(result.largestGapMs, r.gaps.LargestMs());
    }
    offset = sentEnd;
    return result;
}

} // namespace rig
