// varnel-benchrig: runs one contender (Varnel, socat, ...) between a pty pair standing for the
// serial device and a TCP server on 127.0.0.1, drives traffic through it (one direction at a
// time, both at once, and request and answer) and prints one line per figure:
//     result contender=NAME run=N figure=FIGURE value=VALUE
// With --soak it runs both directions at once at line rate and prints a line per minute instead;
// with --chaos as well the server restarts and the device vanishes and returns meanwhile.
// With --listen the contender listens instead, and the rig connects clients to it.
#include "app/platform/Profile.h"
#include "bench/rig/Chaos.h"
#include "bench/rig/Listen.h"
#include "bench/rig/Phase.h"
#include "bench/rig/Rig.h"
#include "bench/rig/TwoWay.h"

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace rig;

// Varnel's most from the server to the port: one block of 3096 bytes per 100 ms tick.
constexpr double kVarnelCap = 3096.0 / 0.1;

const char* const kUsage = R"(usage: varnel-benchrig [options]
  --contender NAME      label of the contender (default socat); "varnel" turns on --ini and
                        --press-open ("varnel-headless" only --ini: it opens the link itself);
                        "ser2net" writes {dir}/ser2net.yaml for the pty and the port and runs
                        ser2net -n -c {dir}/ser2net.yaml (with --listen only)
  --cmd "COMMAND"       the contender, run by /bin/sh in a fresh folder; {pty} is the serial
                        device, {port} the server's port, {dir} the folder. Default for socat:
                        socat {pty},raw,echo=0 TCP:127.0.0.1:{port}
  --ini                 write VarnelConfig.ini for the pty and the port into the folder
  --listen              the contender listens at 127.0.0.1:{port} (Varnel: LISTEN=1, CLIENTS=8,
                        AUTOOPEN=1; socat: TCP-LISTEN) and the rig connects its clients to it.
                        Phases listen-1 and listen-8: sensor lines from the device, 230 bytes
                        every 20 ms, to 1 and to 8 clients (CPU per MB of the device's stream,
                        latency, largest gap between arrivals); listen-frozen: the same to one
                        client while another stays connected and never reads (default: all
                        three)
  --frozen-seconds F    seconds of listen-frozen (default: --seconds); at 11.5 kB/s a contender
                        takes minutes to fill the buffers it keeps for a frozen client
  --press-open          find the window named Varnel (xdotool, needs DISPLAY) and press Enter
  --seconds D           seconds of each paced phase (default 60)
  --unpaced-seconds U   seconds of each unpaced phase (default 5)
  --phase LIST          comma-separated: s2t, t2s, two-way, req-resp, t2s-max, s2t-max,
                        s2t-lines (default s2t,t2s,two-way,req-resp,t2s-max); s2t-lines sends
                        sensor text lines from the device, 230 bytes every 20 ms, and reports
                        its own CPU per MB; with --listen: listen-1, listen-8, listen-frozen
  --hex                 Varnel shows the panes in hexadecimal (HEX=1 in the settings); the
                        figures of s2t-lines are then named s2t-lines-hex
  --fast                Varnel runs in its fast mode (FAST=1 in the settings)
  --wine-prefix DIR     Varnel is varnel.exe under Wine in the prefix DIR: the pty is linked
                        there as COM3 (DIR/dosdevices/com3) instead of named in the settings
  --runs R              runs, each with a fresh contender (default 1)
  --soak MINUTES        soak mode: both directions at once at line rate for MINUTES
  --soak-phase S        seconds of each soak phase (default 5)
  --chaos               with --soak: Varnel reconnects by itself (RECONNECT=2, AUTOOPEN=1, COM3
                        a link in the folder, or the prefix's COM3 under Wine) while the server restarts every 1 to 2 min and
                        the device vanishes and returns every 3 to 5 min
  --seed N              with --chaos: the seed of the random times (default 1)
  --keep                keep the working folder
  --strict              exit with 1 when a byte was lost or altered or the contender failed
)";

struct Options {
    std::string contender = "socat";
    std::string command;
    bool ini = false;
    bool pressOpen = false;
    bool listen = false;
    bool yaml = false; // write ser2net.yaml
    double seconds = 60;
    double unpacedSeconds = 5;
    double frozenSeconds = 0; // 0: `seconds`
    std::vector<std::string> phases{"s2t", "t2s", "two-way", "req-resp", "t2s-max"};
    int runs = 1;
    double soakMinutes = 0;
    double soakPhase = 5;
    bool chaos = false;
    unsigned seed = 1;
    bool keep = false;
    bool strict = false;
    bool hex = false;
    bool fast = false;
    std::string winePrefix;
};

bool ParseOptions(int argc, char** argv, Options& o) {
    bool iniSet = false, pressSet = false, phaseSet = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "varnel-benchrig: %s needs a value\n", arg.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        if (arg == "--contender") {
            o.contender = value();
        } else if (arg == "--cmd") {
            o.command = value();
        } else if (arg == "--ini") {
            o.ini = iniSet = true;
        } else if (arg == "--press-open") {
            o.pressOpen = pressSet = true;
        } else if (arg == "--seconds") {
            o.seconds = std::atof(value());
        } else if (arg == "--unpaced-seconds") {
            o.unpacedSeconds = std::atof(value());
        } else if (arg == "--listen") {
            o.listen = true;
        } else if (arg == "--frozen-seconds") {
            o.frozenSeconds = std::atof(value());
        } else if (arg == "--phase") {
            o.phases.clear();
            phaseSet = true;
            std::istringstream list(value());
            for (std::string p; std::getline(list, p, ',');) {
                if (p != "s2t" && p != "t2s" && p != "t2s-max" && p != "s2t-max" &&
                    p != "two-way" && p != "req-resp" && p != "s2t-lines" && p != "listen-1" &&
                    p != "listen-8" && p != "listen-frozen") {
                    std::fprintf(stderr, "varnel-benchrig: unknown phase %s\n", p.c_str());
                    return false;
                }
                o.phases.push_back(p);
            }
        } else if (arg == "--runs") {
            o.runs = std::atoi(value());
        } else if (arg == "--soak") {
            o.soakMinutes = std::atof(value());
        } else if (arg == "--soak-phase") {
            o.soakPhase = std::atof(value());
        } else if (arg == "--chaos") {
            o.chaos = true;
        } else if (arg == "--seed") {
            o.seed = static_cast<unsigned>(std::strtoul(value(), nullptr, 10));
        } else if (arg == "--keep") {
            o.keep = true;
        } else if (arg == "--strict") {
            o.strict = true;
        } else if (arg == "--hex") {
            o.hex = true;
        } else if (arg == "--fast") {
            o.fast = true;
        } else if (arg == "--wine-prefix") {
            o.winePrefix = value();
        } else {
            std::fputs(kUsage, arg == "--help" || arg == "-h" ? stdout : stderr);
            std::exit(arg == "--help" || arg == "-h" ? 0 : 2);
        }
    }
    std::string lower = o.contender;
    std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
    const bool varnel = lower.rfind("varnel", 0) == 0; // "Varnel", "Varnel-fast"
    const bool windowless = lower.rfind("varnel-headless", 0) == 0;
    if (varnel && !iniSet) {
        o.ini = true;
    }
    if (varnel && !windowless && !pressSet && !o.chaos) {
        o.pressOpen = true;
    }
    if (varnel && o.listen) {
        o.pressOpen = false; // AUTOOPEN: nothing connects to the rig to tell that Open was pressed
    }
    if (o.listen && !phaseSet) {
        o.phases = {"listen-1", "listen-8", "listen-frozen"};
    }
    for (const auto& p : o.phases) {
        if ((p.rfind("listen", 0) == 0) != o.listen) {
            std::fprintf(stderr, "varnel-benchrig: phase %s %s --listen\n", p.c_str(),
                         o.listen ? "does not go with" : "needs");
            return false;
        }
    }
    o.yaml = lower == "ser2net";
    if ((o.yaml && !o.listen) || (o.listen && o.soakMinutes > 0)) {
        std::fprintf(stderr, "varnel-benchrig: ser2net needs --listen, and --soak goes without\n");
        return false;
    }
    if (o.command.empty()) {
        if (lower == "socat") {
            o.command = o.listen
                            ? "socat {pty},raw,echo=0 TCP-LISTEN:{port},bind=127.0.0.1,reuseaddr"
                            : "socat {pty},raw,echo=0 TCP:127.0.0.1:{port}";
        } else if (o.yaml) {
            o.command = "ser2net -n -c {dir}/ser2net.yaml";
        } else {
            std::fprintf(stderr, "varnel-benchrig: --cmd is needed for %s\n", o.contender.c_str());
            return false;
        }
    }
    return o.seconds > 0 && o.unpacedSeconds > 0 && o.runs > 0 && o.soakPhase > 0;
}

// Writes the settings Varnel reads at start: COM3 is the pty, 115200 baud, the rig's server,
// REOPEN off (the rig wants the links to stay up), text or hexadecimal panes, either mode.
// Unattended: Varnel opens the link at start and brings back a side that dropped (waits of at
// most 2 s between attempts). Listening: Varnel opens at start and serves up to 8 clients at the
// port.
bool WriteConfig(const std::string& folder, const std::string& device, std::uint16_t port, bool hex,
                 bool fast, bool unattended, bool listen) {
    const int here = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (here < 0 || chdir(folder.c_str()) != 0) {
        if (here >= 0) {
            close(here);
        }
        return false;
    }
    const char* file = ".\\VarnelConfig.ini";
    const std::string portText = std::to_string(port);
    // No device: COM3 is found by the contender's platform (the Wine prefix's link).
    bool ok = device.empty() || WritePrivateProfileStringA("Ports", "COM3", device.c_str(), file);
    ok = WritePrivateProfileStringA("SYSTEM", "REOPEN", "0", file) && ok;
    ok = WritePrivateProfileStringA("SYSTEM", "HEX", hex ? "1" : "0", file) && ok;
    ok = WritePrivateProfileStringA("SYSTEM", "FAST", fast ? "1" : "0", file) && ok;
    if (unattended) {
        ok = WritePrivateProfileStringA("SYSTEM", "RECONNECT", "2", file) && ok;
        ok = WritePrivateProfileStringA("SYSTEM", "AUTOOPEN", "1", file) && ok;
    }
    if (listen) {
        ok = WritePrivateProfileStringA("SYSTEM", "AUTOOPEN", "1", file) && ok;
        ok = WritePrivateProfileStringA("Socket", "LISTEN", "1", file) && ok;
        ok = WritePrivateProfileStringA("Socket", "CLIENTS", "8", file) && ok;
    }
    ok = WritePrivateProfileStringA("Socket", "ServerIP", "127.0.0.1", file) && ok;
    ok = WritePrivateProfileStringA("Socket", "PORT", portText.c_str(), file) && ok;
    ok = WritePrivateProfileStringA("COM", "COM", "2", file) && ok;
    ok = WritePrivateProfileStringA("COM", "BaudRate", "5", file) && ok;
    ok = fchdir(here) == 0 && ok;
    close(here);
    return ok;
}

// ser2net's settings: the port on 127.0.0.1, the pty at 115200 8N1 without modem lines, up to 8
// clients at once, a further one taking the place of the oldest.
bool WriteSer2netYaml(const std::string& folder, const std::string& device,
                      const std::string& port) {
    std::FILE* f = std::fopen((folder + "/ser2net.yaml").c_str(), "w");
    if (!f) {
        return false;
    }
    std::fprintf(f,
                 "%%YAML 1.1\n---\nconnection: &rig\n  accepter: tcp,127.0.0.1,%s\n"
                 "  connector: serialdev,%s,115200n81,local\n  options:\n"
                 "    kickolduser: true\n    max-connections: 8\n",
                 port.c_str(), device.c_str());
    return std::fclose(f) == 0;
}

// Presses the Open button the way a user would: waits for the window, gives it the focus and
// presses Enter (the focus starts on the Open button, the default button). Tries again, with a
// key press from the keyboard device rather than one sent to the window, when no connection
// arrives.
bool PressOpen(Server& server, Contender& contender, std::string& error) {
    std::string out;
    const int rc =
        RunCapture({"xdotool", "search", "--sync", "--onlyvisible", "--name", "^Varnel$"},
                   std::chrono::seconds(30), &out);
    std::string window = out.substr(0, out.find('\n'));
    if (rc != 0 || window.empty()) {
        error = "no window named Varnel appeared (is DISPLAY set and xdotool installed?)";
        return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    for (int attempt = 1; attempt <= 6; ++attempt) {
        if (!contender.Alive()) {
            error = "the contender ended before it connected";
            return false;
        }
        RunCapture({"xdotool", "windowfocus", "--sync", window}, std::chrono::seconds(3), nullptr);
        if (attempt % 2 == 1) {
            RunCapture({"xdotool", "key", "--window", window, "Return"}, std::chrono::seconds(3),
                       nullptr);
        } else {
            RunCapture({"xdotool", "key", "Return"}, std::chrono::seconds(3), nullptr);
        }
        if (server.Accept(Clock::now() + std::chrono::seconds(4))) {
            std::fprintf(stderr, "rig: Open pressed (attempt %d), connected\n", attempt);
            return true;
        }
    }
    error = "no connection after pressing Enter on the Varnel window six times";
    return false;
}

struct Session {
    std::string folder;
    Pty pty;
    Server server;
    Contender contender;
    bool keep = false;
    std::string wineLink;   // the prefix's COM3, linked to the pty
    std::string deviceLink; // with --chaos: the link the settings name as COM3
    // With --listen: the contender's port, the clients that read and one that never does.
    std::uint16_t listenPort = 0;
    std::vector<int> clients;
    int frozen = -1;

    bool Up(const Options& o, std::string& error) {
        keep = o.keep;
        folder = MakeTempFolder(error);
        if (folder.empty() || !pty.Open(error)) {
            return false;
        }
        if (o.listen) {
            listenPort = FreePort();
        } else if (!server.Listen(error)) {
            return false;
        }
        const std::uint16_t portNumber = o.listen ? listenPort : server.port;
        const std::string port = std::to_string(portNumber);
        if (!o.winePrefix.empty()) {
            wineLink = o.winePrefix + "/dosdevices/com3";
            unlink(wineLink.c_str());
            if (symlink(pty.path.c_str(), wineLink.c_str()) != 0) {
                error = "cannot link " + wineLink + " to " + pty.path;
                return false;
            }
        }
        std::string device = o.winePrefix.empty() ? pty.path : "";
        if (o.chaos && !wineLink.empty()) {
            deviceLink = wineLink; // the prefix's COM3 is the name the device returns behind
        } else if (o.chaos) {
            deviceLink = folder + "/COM3";
            if (symlink(pty.path.c_str(), deviceLink.c_str()) != 0) {
                error = "cannot link " + deviceLink + " to " + pty.path;
                return false;
            }
            device = deviceLink;
        }
        if (o.ini && !WriteConfig(folder, device, portNumber, o.hex, o.fast, o.chaos, o.listen)) {
            error = "cannot write VarnelConfig.ini in " + folder;
            return false;
        }
        if (o.yaml && !WriteSer2netYaml(folder, device, port)) {
            error = "cannot write ser2net.yaml in " + folder;
            return false;
        }
        const std::string command =
            Expand(Expand(Expand(o.command, "pty", pty.path), "port", port), "dir", folder);
        std::fprintf(stderr, "rig: %s in %s: %s\n", o.contender.c_str(), folder.c_str(),
                     command.c_str());
        if (!contender.Start(command, folder, error)) {
            return false;
        }
        if (o.listen) {
            if (!Arrange(1, false, Clock::now() + std::chrono::seconds(15))) {
                error = "could not connect to the contender at 127.0.0.1:" + port + " within 15 s";
                return false;
            }
        } else if (o.pressOpen) {
            if (!PressOpen(server, contender, error)) {
                return false;
            }
        } else if (!server.Accept(Clock::now() + std::chrono::seconds(15))) {
            error = "the contender did not connect within 15 s";
            return false;
        }
        // Let both ends settle (the serial side may open after the connection).
        std::this_thread::sleep_for(std::chrono::seconds(1));
        return true;
    }

    // Connects or closes clients until `count` read, and one is frozen when `withFrozen`.
    bool Arrange(std::size_t count, bool withFrozen, Clock::time_point deadline) {
        const bool leaving = clients.size() > count || (!withFrozen && frozen >= 0);
        while (clients.size() > count) {
            close(clients.back());
            clients.pop_back();
        }
        if (!withFrozen && frozen >= 0) {
            close(frozen);
            frozen = -1;
        }
        if (leaving) {
            // Until the contender sees them leave, their places count as taken.
            std::this_thread::sleep_for(std::chrono::seconds(1));
        }
        while (clients.size() < count) {
            const int fd = Dial(listenPort, deadline);
            if (fd < 0) {
                return false;
            }
            clients.push_back(fd);
        }
        if (withFrozen && frozen < 0) {
            // A small window: what the contender sends it piles up on the contender's side.
            frozen = Dial(listenPort, deadline, 2048);
            return frozen >= 0;
        }
        return true;
    }

    void Down() {
        contender.Stop();
        for (const int fd : clients) {
            close(fd);
        }
        clients.clear();
        if (frozen >= 0) {
            close(frozen);
            frozen = -1;
        }
        if (!wineLink.empty()) {
            unlink(wineLink.c_str());
        }
        server.Close();
        pty.Close();
        if (!keep) {
            RemoveTree(folder);
        } else if (!folder.empty()) {
            std::fprintf(stderr, "rig: kept %s\n", folder.c_str());
        }
    }
};

void Emit(const Options& o, int run, const std::string& figure, double value) {
    std::printf("result contender=%s run=%d figure=%s value=%.10g\n", o.contender.c_str(), run,
                figure.c_str(), value);
    std::fflush(stdout);
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
        Emit(o, run, prefix + "_sent", static_cast<double>(p->sent));
        Emit(o, run, prefix + "_delivered", static_cast<double>(p->delivered));
        Emit(o, run, prefix + "_lost", static_cast<double>(p->lost));
        Emit(o, run, prefix + "_altered", static_cast<double>(p->altered + p->extra));
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
    Emit(o, run, name + "_sent", static_cast<double>(r.sent));
    Emit(o, run, name + "_delivered", static_cast<double>(r.delivered));
    Emit(o, run, name + "_lost", static_cast<double>(r.lost));
    Emit(o, run, name + "_altered", static_cast<double>(r.altered));
    Emit(o, run, name + "_stray", static_cast<double>(r.stray));
    Emit(o, run, name + "_unsent", static_cast<double>(r.unsent));
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
        Emit(o, run, name + "_sent", static_cast<double>(r.sent));
        Emit(o, run, name + "_delivered", static_cast<double>(r.delivered));
        Emit(o, run, name + "_lost", static_cast<double>(r.lost));
        Emit(o, run, name + "_altered", static_cast<double>(r.altered));
        Emit(o, run, name + "_extra", static_cast<double>(r.extra));
        Emit(o, run, name + "_stray", static_cast<double>(r.stray));
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
        if (r.contenderGone || r.connectionClosed) {
            std::fprintf(stderr, "rig: %s run %d %s: the contender %s\n", o.contender.c_str(), run,
                         name.c_str(), r.contenderGone ? "ended" : "closed the connection");
            std::fprintf(stderr, "rig: contender output:\n%s\n",
                         session.contender.LogTail(2000).c_str());
            Emit(o, run, "failed", 1);
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
