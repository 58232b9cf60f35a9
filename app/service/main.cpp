// varnel-headless: the bridge of the window program without a window. It runs the same main
// window on the framework's backend without widgets, in the current directory with the same
// settings file (which it never writes), log and rules; opens the link at start, tells each
// change of the link's status on standard error, and ends cleanly when the system asks it to
// (SIGTERM, SIGINT, Ctrl+C; a service's stop). Where the system's service manager needs it
// (Windows), it also registers itself as a service and runs as one.
#include "app/VarnelDlg.h"
#include "app/framework/headless/Headless.h"
#include "app/service/Console.h"
#include "app/service/Service.h"
#include "app/service/StatusLines.h"
#include "app/platform/Profile.h"
#include "res/resource.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr char kUsage[] =
    "Usage: varnel-headless [--help | --version]\n"
    "Bridges the serial port and the TCP server named in VarnelConfig.ini in the current\n"
    "directory, as Varnel does, without a window. The link opens at start; each change of its\n"
    "status is one line on standard error; the daily log is written beside the settings file,\n"
    "which is never changed. SIGTERM or SIGINT (Ctrl+C; on Windows also Ctrl+Break or closing\n"
    "the console) closes the link (what waits for the server gets up to 2 s) and ends the\n"
    "program with status 0.\n"
    "Exit status: 0 after a clean end, 1 when the program cannot start (no socket library, or a\n"
    "link that does not open while RECONNECT is off), 2 for a wrong command line.\n";

// What waits for the server at the end gets this long to go out.
constexpr UINT kExitFlushMs = 2000;

int g_nExitCode = 0;
// Where the status lines and messages go: standard error, or a service's file.
std::FILE* g_out = stderr;

// At start: the link opens as if 打开 had been pressed; one that cannot open ends the program,
// unless the settings let it come back by itself.
void OnStart(CDialog& dlg) {
    auto& bridge = static_cast<CVarnelDlg&>(dlg);
    bridge.ShowClientCounters(false);
    if (bridge.OpenLinkAtStart() || bridge.ReconnectsByItself())
        return;
    std::fputs("varnel-headless: the link did not open (see the status above) and RECONNECT is "
               "off; ending\n",
               g_out);
    std::fflush(g_out);
    g_nExitCode = 1;
    bridge.EndDialog(IDABORT);
}

// When the system asks the program to end: the link closes as 关闭 closes it, and the program
// ends.
void OnStop(CDialog& dlg) {
    auto& bridge = static_cast<CVarnelDlg&>(dlg);
    bridge.CloseLinkForExit(kExitFlushMs);
    bridge.EndDialog(IDOK);
}

// The bridge in the current directory until it ends, its status lines and messages to out; the
// program's exit status.
int RunBridge(std::FILE* out) {
    g_out = out;
    afx::headless::SetMessageOutput(out);
    SetProfileWritesEnabled(false);
    if (!AfxSocketInit()) {
        std::fprintf(out, "varnel-headless: %s\n", AfxLoadString(IDP_SOCKETS_INIT_FAILED).c_str());
        return 1;
    }
    CStatusLines statusLines(out);
    afx::headless::SetPushObserver([&statusLines](CDialog& dlg) { statusLines.Observe(dlg); });
    afx::headless::SetStartHandler(OnStart);
    afx::headless::SetStopHandler(OnStop);
    const int nResult = AfxWinMain(0, nullptr);
    afx::headless::SetPushObserver(nullptr);
    return g_nExitCode != 0 ? g_nExitCode : nResult;
}

int WrongCommandLine(const std::string& what) {
    std::fprintf(stderr, "varnel-headless: %s; see --help\n", what.c_str());
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args = StartConsole(argc, argv);
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            std::fputs(service::Usage(), stdout);
            return 0;
        }
        if (arg == "--version") {
            std::puts("varnel-headless " VARNEL_VERSION);
            return 0;
        }
        const std::size_t operands = args.size() - i - 1;
        if (service::Offered() && (arg == "--install-service" || arg == "--service")) {
            if (operands != 2)
                return WrongCommandLine(arg + " needs a service name and a folder, nothing more");
            return arg == "--service" ? service::Run(args[i + 1], args[i + 2], RunBridge,
                                                     afx::headless::RequestStop)
                                      : service::Install(args[i + 1], args[i + 2]);
        }
        if (service::Offered() && arg == "--remove-service") {
            if (operands != 1)
                return WrongCommandLine(arg + " needs a service name, nothing more");
            return service::Remove(args[i + 1]);
        }
        return WrongCommandLine("unknown option '" + arg + "'");
    }
    return RunBridge(stderr);
}
