#include "bench/rig/Chaos.h"

#include "bench/rig/Connections.h"
#include "bench/rig/Phase.h"
#include "bench/rig/Stream.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <poll.h>
#include <random>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace rig {
namespace {

constexpr double kQuietSeconds = 1.5;   // both ends hold still this long before a cut or unplug
constexpr double kComeBackSeconds = 30; // a side not back within this ends the run
constexpr double kBlockSeconds = 0.05;  // the server sends a block of 64..512 bytes this often

Clock::duration Span(double seconds) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

// One end that writes a stream without blocking.
struct Sender {
    Pattern& pattern;
    std::uint64_t queued = 0, sent = 0;
    std::vector<std::uint8_t> pending;

    void Queue(std::size_t count) {
        const std::size_t end = pending.size();
        pending.resize(end + count);
        pattern.Fill(queued, pending.data() + end, count);
        queued += count;
    }
    // Writes what it can; false when the end failed for good.
    bool Push(int fd, bool socket) {
        while (!pending.empty()) {
            const ssize_t n =
                socket ? send(fd, pending.data(), pending.size(), MSG_NOSIGNAL | MSG_DONTWAIT)
                       : write(fd, pending.data(), pending.size());
            if (n <= 0) {
                return n < 0 && (errno == EAGAIN || errno == EINTR);
            }
            pending.erase(pending.begin(), pending.begin() + n);
            sent += static_cast<std::uint64_t>(n);
        }
        return true;
    }
    // Forgets what was queued and not written: the stream goes on from what went out.
    void Drop() {
        pending.clear();
        queued = sent;
    }
};

enum class Stage {
    Running,
    QuietServer,
    ServerAway,
    ServerBack,
    QuietDevice,
    DeviceAway,
    DeviceBack,
    Draining
};

double Median(std::vector<double> v) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double Max(const std::vector<double>& v) {
    return v.empty() ? 0 : *std::max_element(v.begin(), v.end());
}

unsigned long long U(std::uint64_t v) {
    return static_cast<unsigned long long>(v);
}

} // namespace

bool RunChaos(const ChaosPlan& plan, Pty& pty, Server& server, Contender& contender) {
    Pattern toTcpPattern{0x5EA1'0001}, toSerialPattern{0x5EA1'0002};
    DeviceAccount toTcp(toTcpPattern);
    StreamChecker toSerial(toSerialPattern, 0);
    Sender device{toTcpPattern, 0, 0, {}}, peer{toSerialPattern, 0, 0, {}};
    std::mt19937 rng(plan.seed);
    const auto between = [&](double low, double high) {
        return Span(std::uniform_real_distribution<double>(low, high)(rng));
    };
    const std::uint16_t port = server.port;
    const auto start = Clock::now();
    const auto end = start + Span(plan.minutes * 60);
    auto nextServerCut = start + between(60, 120), nextDeviceCut = start + between(180, 300);
    auto stageAt = start, awayUntil = start, deviceBase = start, peerBase = start;
    std::uint64_t deviceChunks = 0, peerBlocks = 0, resumeOffset = 0;
    std::uint64_t undelivered = 0, residue = 0, cuts = 0, abortiveCuts = 0, unplugs = 0,
                  contenderDrops = 0;
    std::vector<double> serverTimes, deviceTimes;
    bool abortive = false, failed = false, finished = false;
    // The cuts take turns, the first one at random.
    abortive = std::uniform_int_distribution<int>(0, 1)(rng) == 1;
    Stage stage = Stage::Running;
    toTcp.Begin(false);
    ProcStats first;
    long maxRss = 0;
    int minute = 1;
    std::vector<std::uint8_t> buffer(64 * 1024);

    const auto t2sLost = [&]() {
        const std::uint64_t missing =
            toSerial.Skipped() + (peer.sent - std::min(toSerial.Position(), peer.sent));
        return missing - std::min(missing, undelivered);
    };
    const auto closeClient = [&](bool reset) {
        if (reset) {
            const linger hard{1, 0};
            setsockopt(server.client, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        }
        close(server.client);
        server.client = -1;
        toTcp.End(device.sent);
        peer.Drop();
    };

    while (!failed && !finished) {
        const auto now = Clock::now();
        const double inStage = Seconds(now - stageAt);
        const auto enter = [&](Stage next) {
            stage = next;
            stageAt = now;
        };
        switch (stage) {
        case Stage::Running:
            if (now >= end) {
                enter(Stage::Draining);
            } else if (now + Span(kQuietSeconds) >= nextServerCut) {
                enter(Stage::QuietServer);
            } else if (now + Span(kQuietSeconds) >= nextDeviceCut) {
                enter(Stage::QuietDevice);
            }
            break;
        case Stage::QuietServer:
            if (inStage >= kQuietSeconds && server.client >= 0) {
                // Take in everything that came, then cut.
                ssize_t n;
                while ((n = recv(server.client, buffer.data(), buffer.size(), MSG_DONTWAIT)) > 0) {
                    toTcp.Feed(buffer.data(), static_cast<std::size_t>(n), device.sent);
                }
                abortive = !abortive;
                closeClient(abortive);
                close(server.listener);
                server.listener = -1;
                ++cuts;
                abortiveCuts += abortive ? 1 : 0;
                awayUntil = now + between(2, 5);
                std::fprintf(stderr, "rig: chaos: %.0f s: server %s, away %.1f s\n",
                             Seconds(now - start), abortive ? "resets" : "closes",
                             Seconds(awayUntil - now));
                enter(Stage::ServerAway);
            }
            break;
        case Stage::ServerAway:
            if (now >= awayUntil) {
                std::string error;
                if (!server.Listen(error, port)) {
                    std::fprintf(stderr, "rig: chaos: %s\n", error.c_str());
                    failed = true;
                }
                enter(Stage::ServerBack);
            }
            break;
        case Stage::ServerBack:
        case Stage::DeviceBack:
            if (inStage > kComeBackSeconds) {
                std::fprintf(stderr, "rig: chaos: the %s did not come back within %.0f s\n",
                             stage == Stage::ServerBack ? "server" : "device", kComeBackSeconds);
                failed = true;
            }
            break;
        case Stage::QuietDevice:
            if (inStage >= kQuietSeconds) {
                int left = 0;
                if (ioctl(pty.slave, FIONREAD, &left) == 0 && left > 0) {
                    residue += static_cast<std::uint64_t>(left);
                }
                device.Drop();
                pty.Close();
                unlink(plan.link.c_str());
                ++unplugs;
                awayUntil = now + between(2, 5);
                std::fprintf(stderr, "rig: chaos: %.0f s: device unplugged, away %.1f s\n",
                             Seconds(now - start), Seconds(awayUntil - now));
                enter(Stage::DeviceAway);
            }
            break;
        case Stage::DeviceAway:
            if (now >= awayUntil) {
                std::string error;
                if (!pty.Open(error) || symlink(pty.path.c_str(), plan.link.c_str()) != 0) {
                    std::fprintf(stderr, "rig: chaos: device: %s\n", error.c_str());
                    failed = true;
                }
                resumeOffset = device.sent;
                enter(Stage::DeviceBack);
            }
            break;
        case Stage::Draining:
            if (inStage > 15 ||
                (device.pending.empty() && peer.pending.empty() &&
                 toTcp.Position() >= device.sent && toSerial.Position() >= peer.sent)) {
                finished = true;
            }
            break;
        }
        if (finished) {
            break;
        }

        // The device streams at line rate unless it is away or holding still.
        const bool deviceOn =
            pty.master >= 0 && stage != Stage::QuietDevice && stage != Stage::Draining;
        if (deviceOn) {
            for (; deviceBase + Span(kChunk / kLineRate * static_cast<double>(deviceChunks)) <= now;
                 ++deviceChunks) {
                device.Queue(kChunk);
            }
            device.Push(pty.master, false);
        } else {
            deviceBase = now;
            deviceChunks = 0;
        }
        // The server sends while connected, except while holding still, while the device comes
        // back, and in the last second of the device's absence.
        const bool peerOn =
            server.client >= 0 && (stage == Stage::Running ||
                                   (stage == Stage::DeviceAway && now + Span(1.0) < awayUntil));
        if (peerOn) {
            for (; peerBase + Span(kBlockSeconds * static_cast<double>(peerBlocks)) <= now;
                 ++peerBlocks) {
                const std::uint64_t before = peer.queued;
                peer.Queue(64 + (peerBlocks * 7919) % 449);
                if (stage == Stage::DeviceAway) {
                    undelivered += peer.queued - before;
                }
            }
        } else {
            peerBase = now;
            peerBlocks = 0;
        }
        if (server.client >= 0 && !peer.Push(server.client, true)) {
            std::fprintf(stderr, "rig: chaos: the contender dropped the connection (send)\n");
            ++contenderDrops;
            closeClient(false);
        }

        pollfd fds[3] = {{server.client, POLLIN, 0},
                         {server.client < 0 ? server.listener : -1, POLLIN, 0},
                         {pty.master, POLLIN, 0}};
        poll(fds, 3, 5);
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t n = recv(server.client, buffer.data(), buffer.size(), MSG_DONTWAIT);
            if (n > 0) {
                toTcp.Feed(buffer.data(), static_cast<std::size_t>(n), device.sent);
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                std::fprintf(stderr, "rig: chaos: the contender dropped the connection\n");
                ++contenderDrops;
                closeClient(false);
            }
        }
        if ((fds[1].revents & POLLIN) && server.Accept(Clock::now())) {
            toTcp.Begin(abortive);
            if (stage == Stage::ServerBack) {
                serverTimes.push_back(Seconds(Clock::now() - stageAt));
                std::fprintf(stderr,
                             "rig: chaos: %.0f s: server back, connected after %.2f s; "
                             "device bytes lost so far %llu\n",
                             Seconds(Clock::now() - start), serverTimes.back(),
                             U(toTcp.Now().lost));
                nextServerCut = Clock::now() + between(60, 120);
                stage = Stage::Running;
            }
        }
        if (fds[2].revents & POLLIN) {
            const ssize_t n = read(pty.master, buffer.data(), buffer.size());
            if (n > 0) {
                toSerial.Feed(buffer.data(), static_cast<std::size_t>(n), peer.sent);
            }
        }
        if (stage == Stage::DeviceBack && toTcp.Position() > resumeOffset) {
            deviceTimes.push_back(Seconds(Clock::now() - stageAt));
            std::fprintf(stderr,
                         "rig: chaos: %.0f s: device back, bytes flowing after %.2f s; "
                         "device bytes lost so far %llu\n",
                         Seconds(Clock::now() - start), deviceTimes.back(), U(toTcp.Now().lost));
            nextDeviceCut = Clock::now() + between(180, 300);
            stage = Stage::Running;
            stageAt = Clock::now();
        }
        if (!contender.Alive()) {
            std::fprintf(stderr, "rig: chaos: the contender ended\n%s\n",
                         contender.LogTail(2000).c_str());
            failed = true;
        }

        const double elapsed = Seconds(Clock::now() - start);
        if (elapsed >= minute * 60.0) {
            const ProcStats stats = ReadProcStats(contender.pid);
            if (!first.ok)
                first = stats;
            maxRss = std::max(maxRss, stats.rssKb);
            const Figures f = toTcp.Now();
            const std::uint64_t tLost = t2sLost();
            std::printf("soak minute=%d elapsed_s=%.0f sent=%llu delivered=%llu lost=%llu "
                        "altered=%llu extra=%llu s2t_sent=%llu s2t_lost=%llu t2s_sent=%llu "
                        "t2s_lost=%llu rss_kb=%ld cpu_s=%.2f fds=%d threads=%d repeated=%llu "
                        "undelivered=%llu server_cuts=%llu device_unplugs=%llu\n",
                        minute, elapsed, U(device.sent + peer.sent),
                        U(f.delivered + toSerial.Matched()), U(f.lost + tLost),
                        U(f.altered + toSerial.Altered()), U(f.extra + toSerial.Extra()),
                        U(device.sent), U(f.lost), U(peer.sent), U(tLost), stats.rssKb,
                        stats.cpuSeconds, stats.descriptors, stats.threads,
                        U(f.repeated + f.repeatedGraceful), U(undelivered), U(cuts), U(unplugs));
            std::fflush(stdout);
            minute = static_cast<int>(elapsed / 60.0) + 1;
        }
    }
    toTcp.End(device.sent);
    toSerial.Finish(peer.sent);
    Figures f = toTcp.Now();
    // Bytes that never came, less those the rig itself left in the device at an unplug.
    f.lost += device.sent - std::min(f.frontier, device.sent);
    f.lost -= std::min(f.lost, residue);
    const std::uint64_t tLost = t2sLost();
    const ProcStats last = ReadProcStats(contender.pid);
    std::printf("soak_end minutes=%.1f sent=%llu delivered=%llu lost=%llu altered=%llu extra=%llu "
                "s2t_sent=%llu s2t_delivered=%llu t2s_sent=%llu t2s_delivered=%llu "
                "rss_first_kb=%ld rss_last_kb=%ld rss_max_kb=%ld peak_rss_kb=%ld cpu_s=%.2f "
                "fds_first=%d fds_last=%d threads_first=%d threads_last=%d failed=%d "
                "s2t_repeated=%llu s2t_repeated_graceful=%llu s2t_lost=%llu t2s_lost=%llu "
                "t2s_undelivered=%llu unplug_residue=%llu server_cuts=%llu abortive_cuts=%llu "
                "device_unplugs=%llu contender_drops=%llu server_back_median_s=%.2f "
                "server_back_max_s=%.2f server_backs=%zu device_back_median_s=%.2f "
                "device_back_max_s=%.2f device_backs=%zu\n",
                Seconds(Clock::now() - start) / 60.0, U(device.sent + peer.sent),
                U(f.delivered + toSerial.Matched()), U(f.lost + tLost),
                U(f.altered + toSerial.Altered()), U(f.extra + toSerial.Extra()), U(device.sent),
                U(f.delivered), U(peer.sent), U(toSerial.Matched()), first.rssKb, last.rssKb,
                std::max(maxRss, last.rssKb), last.peakRssKb, last.cpuSeconds, first.descriptors,
                last.descriptors, first.threads, last.threads, failed ? 1 : 0, U(f.repeated),
                U(f.repeatedGraceful), U(f.lost), U(tLost), U(undelivered), U(residue), U(cuts),
                U(abortiveCuts), U(unplugs), U(contenderDrops), Median(serverTimes),
                Max(serverTimes), serverTimes.size(), Median(deviceTimes), Max(deviceTimes),
                deviceTimes.size());
    std::fflush(stdout);
    return !failed && f.lost + tLost + f.altered + f.extra + f.repeatedGraceful == 0 &&
           contenderDrops == 0;
}

} // namespace rig
