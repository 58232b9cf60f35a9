// varnel-benchrig: runs one contender (Varnel, socat, ...) between a pty pair standing for the
// serial device and a TCP server on 127.0.0.1, drives traffic through it (one direction at a
// time, both at once, and request and answer) and prints one line per figure:
//     result contender=NAME run=N figure=FIGURE value=VALUE
// With --soak it runs both directions at once at line rate and prints a line per minute instead;
// with --chaos as well the server restarts and the device vanishes and returns meanwhile.
// With --listen the contender listens instead, and the rig connects clients to it.
#include "bench/rig/Chaos.h"
#include "bench/rig/Listen.h"
#include "bench/rig/Options.h"
#include "bench/rig/Phase.h"
#include "bench/rig/Rig.h"
#include "bench/rig/Session.h"
#include "bench/rig/TwoWay.h"

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <initializer_list>
#include <poll.h>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using namespace rig;

// Varnel's most from the server to the port: one block of 3096 bytes per 100 ms tick.
constexpr double kVarnelCap = 3096.0 / 0.1;

void Emit(const Options& o, int run, const std::string& figure, double value) {
    std::printf("result contender=%s run=%d figure=%s value=%.10g\n", o.contender.c_str(), run,
                figure.c_str(), value);
    std::fflush(stdout);
}

// The figures `name`_SUFFIX of the byte counts given, in their order.
void EmitCounts(const Options& o, int run, const std::string& name,
                std::initializer_list<std::pair<const char*, std::uint64_t>> counts) {
    for (const auto& [suffix, count] : counts) {
        Emit(o, run, name + "_" + suffix, static_cast<double>(count));
    }
}

PhasePlan SpecFor(const std::string& name, const Options& o) {
    PhasePlan plan;
    plan.direction = name.rfind("s2t", 0) == 0 ? Direction::SerialToTcp : Direction::TcpToSerial;
    plan.paced = name.find("-max") == std::string::npos;
    plan.seconds = plan.paced ? o.seconds : o.unpacedSeconds;
    if (name == "s2t-lines") {
        // A device that reports a few text lines every 20 ms, about the line rate.
        plan.lines = true;
        plan.chunk = 5 * Pattern::kLineSize;
        plan.period = 0.020;
    }
    return plan;
}

// Reports a contender that ended or dropped the connection in the middle of a phase.
bool Survived(const Options& o, int run, const std::string& name, Session& session, bool gone,
              bool closed) {
    if (!gone && !closed) {
        return true;
    }
    std::fprintf(stderr, "rig: %s run %d %s: the contender %s\n", o.contender.c_str(), run,
                 name.c_str(), gone ? "ended" : "closed the connection");
    std::fprintf(stderr, "rig: contender output:\n%s\n", session.contender.LogTail(2000).c_str());
    Emit(o, run, "failed", 1);
    return false;
}

// Both directions at once: the device at line rate, the server a block of 64..512 bytes every
// 50 ms. False when the contender failed; `clean` turns false on a byte lost or altered.
bool TwoWayPhase(const Options& o, int run, Session& session, Streams& streams, bool& clean) {
    TwoWayPlan plan;
    plan.seconds = o.seconds;
    const TwoWayResult r = RunTwoWay(plan, session.pty, session.server, streams, session.contender);
    std::uint64_t bad = 0;
    for (const auto& [dir, p] : {std::pair{"s2t", &r.toTcp}, std::pair{"t2s", &r.toSerial}}) {
        std::fprintf(
            stderr,
            "rig: %s run %d two-way %s: sent %llu, delivered %llu, lost %llu, "
            "altered %llu, extra %llu\n",
            o.contender.c_str(), run, dir, static_cast<unsigned long long>(p->sent),
            static_cast<unsigned long long>(p->delivered), static_cast<unsigned long long>(p->lost),
            static_cast<unsigned long long>(p->altered), static_cast<unsigned long long>(p->extra));
        const std::string prefix = std::string("two-way_") + dir;
        EmitCounts(o, run, prefix,
                   {{"sent", p->sent},
                    {"delivered", p->delivered},
                    {"lost", p->lost},
                    {"altered", p->altered + p->extra}});
        Emit(o, run, prefix + "_share_pct",
             p->sent ? 100.0 * static_cast<double>(p->delivered) / static_cast<double>(p->sent)
                     : NAN);
        bad += p->lost + p->altered + p->extra;
    }
    Emit(o, run, "two-way_bad", static_cast<double>(bad));
    Emit(o, run, "two-way_cpu_s", r.cpuSeconds);
    clean = clean && bad == 0;
    return Survived(o, run, "two-way", session, r.contenderGone, r.connectionClosed);
}

// Request and answer: 8 bytes from the server, 64..256 bytes from the device 3 ms later.
bool RequestPhase(const Options& o, int run, Session& session, Streams& streams, bool& clean) {
    RequestPlan plan;
    plan.seconds = o.seconds;
    const RequestResult r =
        RunRequests(plan, session.pty, session.server, streams, session.contender);
    std::fprintf(stderr,
                 "rig: %s run %d req-resp: %llu rounds in %.1f s, %llu altered, %llu "
                 "unanswered\n",
                 o.contender.c_str(), run, static_cast<unsigned long long>(r.rounds), r.seconds,
                 static_cast<unsigned long long>(r.altered),
                 static_cast<unsigned long long>(r.unanswered));
    Emit(o, run, "req-resp_rounds", static_cast<double>(r.rounds));
    Emit(o, run, "req-resp_rounds_per_s",
         r.seconds > 0 ? static_cast<double>(r.rounds) / r.seconds : 0);
    Emit(o, run, "req-resp_rtt_p50_ms", Percentile(r.roundTripMs, 0.50));
    Emit(o, run, "req-resp_rtt_p99_ms", Percentile(r.roundTripMs, 0.99));
    Emit(o, run, "req-resp_altered", static_cast<double>(r.altered));
    Emit(o, run, "req-resp_unanswered", static_cast<double>(r.unanswered));
    clean = clean && r.altered == 0 && r.unanswered == 0;
    return Survived(o, run, "req-resp", session, r.contenderGone, r.connectionClosed);
}

// Sensor lines from the device to the clients of a listening contender: to 1 or to 8 that read,
// or to 1 that reads beside 1 that never does. CPU per MB counts the device's stream once,
// however many clients get it.
bool ListenPhase(const Options& o, int run, const std::string& name, Session& session,
                 Streams& streams, bool& clean) {
    const bool frozen = name == "listen-frozen";
    const std::size_t count = name == "listen-8" ? 8 : 1;
    if (!session.Arrange(count, frozen, Clock::now() + std::chrono::seconds(5))) {
        std::fprintf(stderr, "rig: %s run %d %s: could not connect the clients\n",
                     o.contender.c_str(), run, name.c_str());
        Emit(o, run, "failed", 1);
        return false;
    }
    std::this_thread::sleep_for(std::chrono::seconds(1)); // the contender takes them in
    const bool refused = std::any_of(session.clients.begin(), session.clients.end(), Closed) ||
                         (frozen && Closed(session.frozen));
    if (refused) {
        std::fprintf(stderr, "rig: %s run %d %s: the contender closed a client it should serve\n",
                     o.contender.c_str(), run, name.c_str());
        Emit(o, run, "failed", 1);
        return false;
    }
    PhasePlan plan = SpecFor("s2t-lines", o);
    if (frozen && o.frozenSeconds > 0) {
        plan.seconds = o.frozenSeconds;
    }
    const FanOutResult r =
        RunFanOut(plan, session.pty, session.clients, streams, session.contender);
    std::fprintf(
        stderr,
        "rig: %s run %d %s: %zu reading client(s)%s, sent %llu, delivered to each "
        "%llu, lost %llu, altered %llu, stray %llu, not taken by the pty %llu, largest gap "
        "%.1f ms\n",
        o.contender.c_str(), run, name.c_str(), count, frozen ? " and 1 frozen" : "",
        static_cast<unsigned long long>(r.sent), static_cast<unsigned long long>(r.delivered),
        static_cast<unsigned long long>(r.lost), static_cast<unsigned long long>(r.altered),
        static_cast<unsigned long long>(r.stray), static_cast<unsigned long long>(r.unsent),
        r.largestGapMs);
    EmitCounts(o, run, name,
               {{"sent", r.sent},
                {"delivered", r.delivered},
                {"lost", r.lost},
                {"altered", r.altered},
                {"stray", r.stray},
                {"unsent", r.unsent}});
    Emit(o, run, name + "_cpu_s", r.cpuSeconds);
    if (r.delivered > 0) {
        Emit(o, run, name + "_cpu_s_per_mb",
             r.cpuSeconds / (static_cast<double>(r.delivered) / 1e6));
    }
    Emit(o, run, name + "_lat_p50_ms", Percentile(r.latencyMs, 0.50));
    Emit(o, run, name + "_lat_p99_ms", Percentile(r.latencyMs, 0.99));
    Emit(o, run, name + "_gap_ms", r.largestGapMs);
    if (frozen) {
        // Whether the contender gave up on the frozen client.
        Emit(o, run, name + "_frozen_dropped", Closed(session.frozen) ? 1 : 0);
    }
    clean = clean && r.lost == 0 && r.altered == 0 && r.stray == 0;
    return Survived(o, run, name, session, r.contenderGone, r.connectionClosed);
}

// One run: a fresh folder, pty, server and contender, then the phases. False on a failure of
// the run or, with --strict, on a byte lost or altered.
bool RunOnce(const Options& o, int run) {
    Session session;
    std::string error;
    if (!session.Up(o, error)) {
        std::fprintf(stderr, "rig: %s run %d: %s\n", o.contender.c_str(), run, error.c_str());
        if (session.contender.pid > 0 || !session.contender.logPath.empty()) {
            std::fprintf(stderr, "rig: contender output:\n%s\n",
                         session.contender.LogTail(2000).c_str());
        }
        Emit(o, run, "failed", 1);
        session.Down();
        return false;
    }
    Streams streams;
    bool clean = true;
    double pacedCpu = 0, pacedBytes = 0;
    for (const auto& phase : o.phases) {
        if (phase.rfind("listen", 0) == 0) {
            if (!ListenPhase(o, run, phase, session, streams, clean)) {
                break;
            }
            continue;
        }
        if (phase == "two-way" || phase == "req-resp") {
            const bool ok = phase == "two-way" ? TwoWayPhase(o, run, session, streams, clean)
                                               : RequestPhase(o, run, session, streams, clean);
            if (!ok) {
                break;
            }
            continue;
        }
        const PhasePlan plan = SpecFor(phase, o);
        // The display option matters to Varnel's cost: the figures of a lines phase say which.
        const std::string name = plan.lines && o.hex ? phase + "-hex" : phase;
        const PhaseResult r =
            RunPhase(plan, session.pty, session.server, streams, session.contender);
        const double share = r.sent ? 100.0 * static_cast<double>(r.delivered) / r.sent : NAN;
        std::fprintf(
            stderr,
            "rig: %s run %d %s: sent %llu, delivered %llu, lost %llu, altered %llu, "
            "extra %llu, stray %llu, %.1f s sending\n",
            o.contender.c_str(), run, name.c_str(), static_cast<unsigned long long>(r.sent),
            static_cast<unsigned long long>(r.delivered), static_cast<unsigned long long>(r.lost),
            static_cast<unsigned long long>(r.altered), static_cast<unsigned long long>(r.extra),
            static_cast<unsigned long long>(r.stray), r.sendSeconds);
        EmitCounts(o, run, name,
                   {{"sent", r.sent},
                    {"delivered", r.delivered},
                    {"lost", r.lost},
                    {"altered", r.altered},
                    {"extra", r.extra},
                    {"stray", r.stray}});
        Emit(o, run, name + "_share_pct", share);
        Emit(o, run, name + "_cpu_s", r.cpuSeconds);
        if (plan.paced) {
            Emit(o, run, name + "_lat_p50_ms", Percentile(r.latencyMs, 0.50));
            Emit(o, run, name + "_lat_p99_ms", Percentile(r.latencyMs, 0.99));
            Emit(o, run, name + "_lat_samples", static_cast<double>(r.latencyMs.size()));
            if (plan.lines) {
                if (r.delivered > 0) {
                    Emit(o, run, name + "_cpu_s_per_mb",
                         r.cpuSeconds / (static_cast<double>(r.delivered) / 1e6));
                }
            } else {
                pacedCpu += r.cpuSeconds;
                pacedBytes += static_cast<double>(r.delivered);
            }
        } else {
            const double rate = r.sendSeconds > 0
                                    ? static_cast<double>(r.deliveredWhileSending) / r.sendSeconds
                                    : 0;
            Emit(o, run, name + "_rate_Bps", rate);
            Emit(o, run, name + "_cap_pct", 100.0 * rate / kVarnelCap);
        }
        if (plan.paced && (r.lost || r.altered || r.extra)) {
            clean = false;
        }
        if (!Survived(o, run, name, session, r.contenderGone, r.connectionClosed)) {
            clean = false;
            break;
        }
    }
    if (pacedBytes > 0) {
        Emit(o, run, "cpu_s_per_mb", pacedCpu / (pacedBytes / 1e6));
    }
    const ProcStats stats = ReadProcStats(session.contender.pid);
    if (stats.ok) {
        Emit(o, run, "peak_rss_kb", static_cast<double>(stats.peakRssKb));
        Emit(o, run, "cpu_s_total", stats.cpuSeconds);
    }
    session.Down();
    return clean || !o.strict;
}

struct Totals {
    std::uint64_t sent = 0, delivered = 0, lost = 0, altered = 0, extra = 0;
    void Add(const PhaseResult& r) {
        sent += r.sent;
        delivered += r.delivered;
        lost += r.lost;
        altered += r.altered;
        extra += r.extra;
    }
};

// Soak: one contender for the whole time, both directions at once at line rate in phases of
// --soak-phase seconds (each waits for its bytes before the next starts). Prints a line per
// minute and a last line with what the process held at the start and at the end.
bool Soak(const Options& o) {
    Session session;
    std::string error;
    if (!session.Up(o, error)) {
        std::fprintf(stderr, "rig: soak: %s\n", error.c_str());
        session.Down();
        return false;
    }
    if (o.chaos) {
        const bool ok = RunChaos({o.soakMinutes, session.deviceLink, o.seed}, session.pty,
                                 session.server, session.contender);
        session.Down();
        return ok || !o.strict;
    }
    Streams streams;
    Totals both, toTcp, toSerial;
    // What the process holds is first read at minute 1: for the first half minute a window
    // still has helper threads of its own start-up (idle pool threads end after 30 s).
    ProcStats first;
    const auto start = Clock::now();
    int minute = 1;
    long maxRss = 0;
    bool failed = false;
    TwoWayPlan plan;
    plan.seconds = o.soakPhase;
    plan.quietSeconds = 3;
    plan.maxDrainSeconds = 30;
    while (Seconds(Clock::now() - start) < o.soakMinutes * 60) {
        const TwoWayResult r =
            RunTwoWay(plan, session.pty, session.server, streams, session.contender);
        both.Add(r.toTcp);
        both.Add(r.toSerial);
        toTcp.Add(r.toTcp);
        toSerial.Add(r.toSerial);
        if (r.contenderGone || r.connectionClosed) {
            std::fprintf(stderr, "rig: soak: the contender %s\n%s\n",
                         r.contenderGone ? "ended" : "closed the connection",
                         session.contender.LogTail(2000).c_str());
            failed = true;
            break;
        }
        const double elapsed = Seconds(Clock::now() - start);
        if (elapsed >= minute * 60.0) {
            const ProcStats stats = ReadProcStats(session.contender.pid);
            if (!first.ok)
                first = stats;
            maxRss = std::max(maxRss, stats.rssKb);
            std::printf("soak minute=%d elapsed_s=%.0f sent=%llu delivered=%llu lost=%llu "
                        "altered=%llu extra=%llu s2t_sent=%llu s2t_lost=%llu t2s_sent=%llu "
                        "t2s_lost=%llu rss_kb=%ld cpu_s=%.2f fds=%d threads=%d\n",
                        minute, elapsed, static_cast<unsigned long long>(both.sent),
                        static_cast<unsigned long long>(both.delivered),
                        static_cast<unsigned long long>(both.lost),
                        static_cast<unsigned long long>(both.altered),
                        static_cast<unsigned long long>(both.extra),
                        static_cast<unsigned long long>(toTcp.sent),
                        static_cast<unsigned long long>(toTcp.lost),
                        static_cast<unsigned long long>(toSerial.sent),
                        static_cast<unsigned long long>(toSerial.lost), stats.rssKb,
                        stats.cpuSeconds, stats.descriptors, stats.threads);
            std::fflush(stdout);
            minute = static_cast<int>(elapsed / 60.0) + 1;
        }
    }
    const ProcStats last = ReadProcStats(session.contender.pid);
    std::printf(
        "soak_end minutes=%.1f sent=%llu delivered=%llu lost=%llu altered=%llu extra=%llu "
        "s2t_sent=%llu s2t_delivered=%llu t2s_sent=%llu t2s_delivered=%llu "
        "rss_first_kb=%ld rss_last_kb=%ld rss_max_kb=%ld peak_rss_kb=%ld cpu_s=%.2f "
        "fds_first=%d fds_last=%d threads_first=%d threads_last=%d failed=%d\n",
        Seconds(Clock::now() - start) / 60.0, static_cast<unsigned long long>(both.sent),
        static_cast<unsigned long long>(both.delivered), static_cast<unsigned long long>(both.lost),
        static_cast<unsigned long long>(both.altered), static_cast<unsigned long long>(both.extra),
        static_cast<unsigned long long>(toTcp.sent),
        static_cast<unsigned long long>(toTcp.delivered),
        static_cast<unsigned long long>(toSerial.sent),
        static_cast<unsigned long long>(toSerial.delivered), first.rssKb, last.rssKb,
        std::max(maxRss, last.rssKb), last.peakRssKb, last.cpuSeconds, first.descriptors,
        last.descriptors, first.threads, last.threads, failed ? 1 : 0);
    std::fflush(stdout);
    session.Down();
    const bool clean = !failed && both.lost == 0 && both.altered == 0 && both.extra == 0;
    return clean || !o.strict;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);
    if (options.soakMinutes > 0) {
        return Soak(options) ? 0 : 1;
    }
    bool ok = true;
    for (int run = 1; run <= options.runs; ++run) {
        ok = RunOnce(options, run) && ok;
    }
    return ok ? 0 : 1;
}
