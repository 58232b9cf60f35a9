#include "bench/rig/Options.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <sstream>
#include <utility>

namespace rig {

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

bool ParseOptions(int argc, char** argv, Options& o) {
    bool iniSet = false, pressSet = false, phaseSet = false;
    // The options that take no value, and those that take one, by the field they set.
    const std::pair<const char*, bool*> switches[] = {
        {"--ini", &iniSet},    {"--press-open", &pressSet}, {"--listen", &o.listen},
        {"--chaos", &o.chaos}, {"--keep", &o.keep},         {"--strict", &o.strict},
        {"--hex", &o.hex},     {"--fast", &o.fast},
    };
    const std::pair<const char*, double*> numbers[] = {
        {"--seconds", &o.seconds},
        {"--unpaced-seconds", &o.unpacedSeconds},
        {"--frozen-seconds", &o.frozenSeconds},
        {"--soak", &o.soakMinutes},
        {"--soak-phase", &o.soakPhase},
    };
    const std::pair<const char*, std::string*> texts[] = {
        {"--contender", &o.contender}, {"--cmd", &o.command}, {"--wine-prefix", &o.winePrefix}};
    auto named = [](const auto& table, const std::string& arg) {
        return std::find_if(std::begin(table), std::end(table),
                            [&](const auto& row) { return arg == row.first; });
    };
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "varnel-benchrig: %s needs a value\n", arg.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        if (auto row = named(switches, arg); row != std::end(switches)) {
            *row->second = true;
        } else if (auto number = named(numbers, arg); number != std::end(numbers)) {
            *number->second = std::atof(value());
        } else if (auto text = named(texts, arg); text != std::end(texts)) {
            *text->second = value();
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
        } else if (arg == "--seed") {
            o.seed = static_cast<unsigned>(std::strtoul(value(), nullptr, 10));
        } else {
            std::fputs(kUsage, arg == "--help" || arg == "-h" ? stdout : stderr);
            std::exit(arg == "--help" || arg == "-h" ? 0 : 2);
        }
    }
    o.ini = o.ini || iniSet;
    o.pressOpen = o.pressOpen || pressSet;
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

} // namespace rig
