// varnel-headless: the bridge of the window program without a window. It runs the same main
// window on the framework's backend without widgets, in the current directory with the same
// settings file (which it never writes), log and rules; opens the link at start, tells each
// change of the link's status on standard error, and ends cleanly on SIGTERM or SIGINT.
#include "app/VarnelDlg.h"
#include "app/framework/headless/Headless.h"
#include "app/headless/StatusLines.h"
#include "app/platform/Profile.h"
#include "res/resource.h"

#include <cstdio>
#include <string_view>

namespace {

constexpr char kUsage[] =
    "Usage: varnel-headless [--help | --version]\n"
    "Bridges the serial port and the TCP server named in VarnelConfig.ini in the current\n"
    "directory, as Varnel does, without a window. The link opens at start; each change of its\n"
    "status is one line on standard error; the daily log is written beside the settings file,\n"
    "which is never changed. SIGTERM or SIGINT closes the link (what waits for the server gets\n"
    "up to 2 s) and ends the program with status 0.\n"
    "Exit status: 0 after a clean end, 1 when the program cannot start (no socket library, or a\n"
    "link that does not open while RECONNECT is off), 2 for a wrong command line.\n";

// What waits for the server at the end gets this long to go out.
constexpr UINT kExitFlushMs = 2000;

int g_nExitCode = 0;

// At start: the link opens as if 打开 had been pressed; one that cannot open ends the program,
// unless the settings let it come back by itself.
void OnStart(CDialog& dlg) {
    auto& bridge = static_cast<CVarnelDlg&>(dlg);
    if (bridge.OpenLinkAtStart() || bridge.ReconnectsByItself())
        return;
    std::fputs("varnel-headless: the link did not open (see the status above) and RECONNECT is "
               "off; ending\n",
               stderr);
    g_nExitCode = 1;
    bridge.EndDialog(IDABORT);
}

// At SIGTERM or SIGINT: the link closes as 关闭 closes it, and the program ends.
void OnStop(CDialog& dlg) {
    auto& bridge = static_cast<CVarnelDlg&>(dlg);
    bridge.CloseLinkForExit(kExitFlushMs);
    bridge.EndDialog(IDOK);
}

} // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--version") {
            std::puts("varnel-headless " VARNEL_VERSION);
            return 0;
        }
        std::fprintf(stderr, "varnel-headless: unknown option '%s'; see --help\n", argv[i]);
        return 2;
    }

    SetProfileWritesEnabled(false);
    if (!AfxSocketInit()) {
        std::fprintf(stderr, "varnel-headless: %s\n",
                     AfxLoadString(IDP_SOCKETS_INIT_FAILED).c_str());
        return 1;
    }
    CStatusLines statusLines(stderr);
    afx::headless::SetPushObserver([&statusLines](CDialog& dlg) { statusLines.Observe(dlg); });
    afx::headless::SetStartHandler(OnStart);
    afx::headless::SetStopHandler(OnStop);
    const int nResult = AfxWinMain(argc, argv);
    return g_nExitCode != 0 ? g_nExitCode : nResult;
}
