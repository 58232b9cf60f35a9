// varnel-demo: lets a newcomer try Varnel without hardware. In a temporary folder it maps COM3
// to a pty driven by a simulated device, listens on 127.0.0.1 as the far end of the bridge and
// starts Varnel there; then it prints both sides' traffic until Varnel ends.

#include "app/platform/Profile.h"
#include "tools/demo/Console.h"
#include "tools/demo/Device.h"
#include "tools/demo/Peer.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using demo::Clock;
using demo::Say;

constexpr const char* kSettings = ".\\VarnelConfig.ini";
constexpr auto kAppGrace = std::chrono::seconds(5);

constexpr const char kUsage[] =
    "usage: varnel-demo [--port N] [--keep] PATH-TO-VARNEL\n"
    "       varnel-demo [--port N] [--keep] --no-app\n"
    "\n"
    "Runs Varnel in a temporary folder between a simulated serial device (a pty mapped as\n"
    "COM3) and a loopback peer on 127.0.0.1, and prints the traffic of both.\n"
    "\n"
    "  --port N   the peer listens on 127.0.0.1:N (default 8000)\n"
    "  --keep     keep the temporary folder (settings file and logs) at exit\n"
    "  --no-app   run only the device and the peer; connect to them yourself\n"
    "  --help     show this text\n";

struct Options {
    std::uint16_t port = 8000;
    bool keep = false;
    bool noApp = false;
    std::string app;
};

// 0 to go on, otherwise the exit status.
int ParseOptions(int argc, char** argv, Options& opt) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return -1;
        } else if (arg == "--keep") {
            opt.keep = true;
        } else if (arg == "--no-app") {
            opt.noApp = true;
        } else if (arg == "--port" || arg.starts_with("--port=")) {
            std::string value = arg == "--port" ? (i + 1 < argc ? argv[++i] : "") : arg.substr(7);
            char* end = nullptr;
            long port = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || port < 1 || port > 65535) {
                std::fprintf(stderr, "varnel-demo: --port needs a number from 1 to 65535\n");
                return 2;
            }
            opt.port = static_cast<std::uint16_t>(port);
        } else if (arg.starts_with("-") || !opt.app.empty()) {
            std::fprintf(stderr, "varnel-demo: unexpected argument %s\n%s", arg.c_str(), kUsage);
            return 2;
        } else {
            opt.app = arg;
        }
    }
    if (opt.noApp == opt.app.empty()) {
        return 0;
    }
    std::fprintf(stderr, "varnel-demo: give either the path to Varnel or --no-app\n%s", kUsage);
    return 2;
}

int g_signalPipe[2] = {-1, -1};

void OnSignal(int sig) {
    int saved = errno;
    auto byte = static_cast<unsigned char>(sig);
    ssize_t ignored = write(g_signalPipe[1], &byte, 1);
    (void)ignored;
    errno = saved;
}

bool CatchSignals() {
    if (pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return false;
    }
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    return sigaction(SIGINT, &sa, nullptr) == 0 && sigaction(SIGTERM, &sa, nullptr) == 0 &&
           sigaction(SIGCHLD, &sa, nullptr) == 0;
}

// The signals caught since the last call, as a bit set.
unsigned TakeSignals() {
    unsigned seen = 0;
    unsigned char buf[64];
    ssize_t n;
    while ((n = read(g_signalPipe[0], buf, sizeof buf)) > 0) {
        for (ssize_t i = 0; i < n; ++i) {
            seen |= 1u << buf[i];
        }
    }
    return seen;
}

bool WriteSettings(const std::string& slave, std::uint16_t port) {
    std::string portText = std::to_string(port);
    return WritePrivateProfileStringA("Ports", "COM3", slave.c_str(), kSettings) &&
           WritePrivateProfileStringA("COM", "COM", "2", kSettings) &&
           WritePrivateProfileStringA("Socket", "ServerIP", "127.0.0.1", kSettings) &&
           WritePrivateProfileStringA("Socket", "PORT", portText.c_str(), kSettings) &&
           WritePrivateProfileStringA("SYSTEM", "REOPEN", "0", kSettings) &&
           WritePrivateProfileStringA("SYSTEM", "HEX", "0", kSettings);
}

void RemoveFolder(const std::string& folder) {
    auto removeOne = [](const char* path, const struct stat*, int, FTW*) {
        return remove(path) == 0 ? 0 : -1;
    };
    if (nftw(folder.c_str(), removeOne, 16, FTW_DEPTH | FTW_PHYS) == 0) {
        Say("rig", "removed folder " + folder);
    } else {
        Say("rig", "could not remove folder " + folder + ": " + std::strerror(errno));
    }
}

pid_t StartApp(const std::string& app) {
    pid_t pid = fork();
    if (pid == 0) {
        signal(SIGINT, SIG_DFL);
        signal(SIGTERM, SIG_DFL);
        signal(SIGCHLD, SIG_DFL);
        execl(app.c_str(), app.c_str(), static_cast<char*>(nullptr));
        std::fprintf(stderr, "varnel-demo: cannot start %s: %s\n", app.c_str(),
                     std::strerror(errno));
        _exit(127);
    }
    return pid;
}

int ExitStatus(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Asks Varnel to end, and ends it after a grace period if it does not. Returns its status.
int StopApp(pid_t pid) {
    kill(pid, SIGTERM);
    auto deadline = Clock::now() + kAppGrace;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            Say("rig", "Varnel did not end; killing it");
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
        pollfd pfd{g_signalPipe[0], POLLIN, 0};
        poll(&pfd, 1, static_cast<int>(left.count()));
        TakeSignals();
    }
    return ExitStatus(status);
}

void PrintGuide(const Options& opt, const std::string& folder, const std::string& slave) {
    std::printf(
        "Varnel demo rig\n"
        "  folder %s (Varnel's settings and daily logs; %s)\n"
        "  COM3 is %s (a simulated device: sends a line of text every 3 s, some of it\n"
        "          Chinese in code page 936, and prints what it receives)\n"
        "  peer   127.0.0.1:%u (sends \"PING nnnn\" every 3 s once connected, answers each\n"
        "          block with \"ACK n bytes\")\n"
        "  settings: COM3 mapped to the pty, server 127.0.0.1:%u, REOPEN=0 so the links stay\n"
        "          up across blocks, HEX=0 so the panes show text\n",
        folder.c_str(), opt.keep ? "kept at exit" : "removed at exit, --keep keeps it",
        slave.c_str(), opt.port, opt.port);
    if (opt.noApp) {
        std::printf("Varnel is not started (--no-app): open %s and connect to 127.0.0.1:%u "
                    "yourself.\nPress Ctrl+C here to end.\n\n",
                    slave.c_str(), opt.port);
    } else {
        std::printf("In Varnel press 打开 (Open): COM3 is %s, server 127.0.0.1:%u. Traffic then "
                    "flows both ways.\nClose Varnel or press Ctrl+C here to end.\n\n",
                    slave.c_str(), opt.port);
    }
    std::fflush(stdout);
}

int Milliseconds(Clock::duration d) {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
    return static_cast<int>(std::clamp<long long>(ms + 1, 0, 60000));
}

} // namespace

int main(int argc, char** argv) {
    Options opt;
    if (int rc = ParseOptions(argc, argv, opt); rc != 0) {
        return rc < 0 ? 0 : rc;
    }
    if (!opt.noApp) {
        char resolved[PATH_MAX];
        if (realpath(opt.app.c_str(), resolved) == nullptr || access(resolved, X_OK) != 0) {
            std::fprintf(stderr, "varnel-demo: %s is not a program: %s\n", opt.app.c_str(),
                         std::strerror(errno));
            return 2;
        }
        opt.app = resolved;
    }

    demo::Peer peer;
    demo::Device device;
    if (!peer.Listen(opt.port) || !device.Open() || !CatchSignals()) {
        return 1;
    }
    char folderTemplate[] = "/tmp/varnel-demo-XXXXXX";
    if (mkdtemp(folderTemplate) == nullptr || chdir(folderTemplate) != 0) {
        std::fprintf(stderr, "varnel-demo: cannot make a folder under /tmp: %s\n",
                     std::strerror(errno));
        return 1;
    }
    const std::string folder = folderTemplate;
    if (!WriteSettings(device.SlavePath(), opt.port)) {
        std::fprintf(stderr, "varnel-demo: cannot write VarnelConfig.ini in %s\n", folder.c_str());
        RemoveFolder(folder);
        return 1;
    }
    PrintGuide(opt, folder, device.SlavePath());

    int status = 0;
    pid_t app = opt.noApp ? -1 : StartApp(opt.app);
    if (!opt.noApp && app < 0) {
        std::fprintf(stderr, "varnel-demo: cannot start Varnel: %s\n", std::strerror(errno));
        status = 1;
    }
    bool running = opt.noApp || app > 0;
    while (running) {
        auto now = Clock::now();
        device.OnTime(now);
        peer.OnTime(now);
        auto due = std::min(device.NextDue(), peer.NextDue());

        pollfd fds[4] = {{g_signalPipe[0], POLLIN, 0},
                         {device.Fd(), POLLIN, 0},
                         {peer.ListenFd(), POLLIN, 0},
                         {peer.ClientFd(), POLLIN, 0}};
        nfds_t count = peer.ClientFd() >= 0 ? 4 : 3;
        if (poll(fds, count, Milliseconds(due - Clock::now())) < 0) {
            continue;
        }
        if (fds[0].revents != 0) {
            unsigned seen = TakeSignals();
            int waited = 0;
            if (app > 0 && (seen & (1u << SIGCHLD)) != 0 && waitpid(app, &waited, WNOHANG) == app) {
                status = ExitStatus(waited);
                app = -1;
                Say("rig", "Varnel ended with status " + std::to_string(status));
                running = false;
            }
            if ((seen & ((1u << SIGINT) | (1u << SIGTERM))) != 0) {
                Say("rig", "stopping");
                running = false;
            }
        }
        if (fds[1].revents != 0) {
            device.OnReadable();
        }
        if (count == 4 && fds[3].revents != 0) {
            peer.OnReadable();
        }
        if (fds[2].revents != 0) {
            peer.OnAccept();
        }
    }
    if (app > 0) {
        status = StopApp(app);
        Say("rig", "Varnel ended with status " + std::to_string(status));
    }
    if (chdir("/") != 0) {
        Say("rig", std::string("cannot leave the folder: ") + std::strerror(errno));
    }
    if (opt.keep) {
        Say("rig", "kept folder " + folder);
    } else {
        RemoveFolder(folder);
    }
    return status;
}
