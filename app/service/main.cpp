// varnel-headless: the bridge of the window program without a window. It runs the same main
// window on the framework's backend without widgets, in the folder of its settings file (which
// it never writes), with the same log and rules; opens the link at start, tells each change of
// the link's status on standard error, reads its settings again when asked (SIGHUP; a service's
// PARAMCHANGE), ends with status 3 when the link is down for good, and ends cleanly when the
// system asks it to (SIGTERM, SIGINT, Ctrl+C; a service's stop). It tells a service manager that
// started it (systemd) when it is ready, what its status is and that it is alive. Where the
// system's service manager needs it (Windows), it also registers itself as a service and runs as
// one.
#include "app/VarnelDlg.h"
#include "app/framework/headless/Headless.h"
#include "app/linkerrors/LinkErrors.h"
#include "app/platform/Profile.h"
#include "app/service/Console.h"
#include "app/service/Manager.h"
#include "app/service/Service.h"
#include "app/service/StatusLines.h"
#include "res/resource.h"

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr char kUsage[] =
    "Usage: varnel-headless [-c FILE | --config FILE] [--help | --version]\n"
    "Bridges the serial port and the TCP server named in the settings file, as Varnel does,\n"
    "without a window: FILE, or VarnelConfig.ini in the current directory. The daily log and the\n"
    "events file are written beside the settings file, which is never changed. The link opens at\n"
    "start; each change of its status is one line on standard error (with its priority and no\n"
    "time when standard error is systemd's journal). SIGHUP reads the settings file again: a side\n"
    "whose settings changed closes and opens on the new ones, the other stays up; settings that\n"
    "do not check leave the link as it is and one line says why. SIGTERM or SIGINT (Ctrl+C; on\n"
    "Windows also Ctrl+Break or closing the console) closes the link (what waits for the server\n"
    "gets up to 2 s) and ends the program with status 0.\n"
    "Exit status: 0 after a clean end; 1 when the program cannot start (no socket library, a\n"
    "settings file that is missing or wrong, or a link that does not open while RECONNECT is\n"
    "off); 2 for a wrong command line; 3 when the link went down and will not come back by itself\n"
    "(RECONNECT is off), so that a service manager starts the program again.\n";

// What waits for the server at the end or at a reload gets this long to go out.
constexpr UINT kFlushMs = 2000;
// How often the program looks whether its link is down for good and whether the watchdog is due.
constexpr std::chrono::milliseconds kTickPeriod(200);
constexpr int kLinkDownForGood = 3;

int g_nExitCode = 0;
std::FILE* g_out = stderr; // standard error, or a service's file
CStatusLines* g_pLines = nullptr;
std::string g_strSettingsFile; // as the command line or the default named it
std::string g_strSettingsName; // its name in the current directory
bool g_bStarted = false;       // the start handler has run
bool g_bEnding = false;        // the program is on its way out
SettingsPrint g_print;         // what the link runs on
std::chrono::steady_clock::time_point g_nextWatchdog;

void Say(Priority priority, const std::string& strText) {
    if (g_pLines)
        g_pLines->Say(priority, strText);
}

void Notify(const std::string& strState) {
    manager::Notify(strState);
}

std::string StatusNotice() {
    return g_pLines ? "STATUS=" + g_pLines->StatusSummary() : "STATUS=";
}

// The link closes as 关闭 closes it and the program ends with the status given.
void End(CVarnelDlg& bridge, int nExitCode, int nResult) {
    g_bEnding = true;
    Notify("STOPPING=1");
    if (g_pLines)
        g_pLines->SetClosingAsked(nExitCode == 0);
    bridge.CloseLinkForExit(kFlushMs);
    g_nExitCode = nExitCode;
    bridge.EndDialog(nResult);
}

// At start: the link opens as if 打开 had been pressed; one that cannot open ends the program,
// unless the settings let it come back by itself.
void OnStart(CDialog& dlg) {
    auto& bridge = static_cast<CVarnelDlg&>(dlg);
    bridge.ShowClientCounters(false);
    bridge.TellLogFailures([](const std::string& strText) { Say(Priority::warning, strText); });
    g_print = ReadSettingsPrint();
    g_bStarted = true;
    if (bridge.OpenLinkAtStart() || bridge.ReconnectsByItself()) {
        Notify("READY=1\n" + StatusNotice());
        return;
    }
    const std::string strWrong = bridge.CheckNetworkSettings();
    Say(Priority::err, strWrong.empty()
                           ? "the link did not open (see the status above) and RECONNECT is off, "
                             "so nothing tries again; ending"
                           : "the settings are wrong (see the status above), which no retry "
                             "mends; ending");
    g_bEnding = true;
    Notify("STOPPING=1");
    g_nExitCode = 1;
    bridge.EndDialog(IDABORT);
}

// When the system asks the program to end: the link closes as 关闭 closes it, and the program
// ends.
void OnStop(CDialog& dlg) {
    End(static_cast<CVarnelDlg&>(dlg), 0, IDOK);
}

// Reads the settings file again; the sides whose settings changed close and open on them.
void OnReload(CDialog& dlg) {
    auto& bridge = static_cast<CVarnelDlg&>(dlg);
    if (!g_bStarted || g_bEnding)
        return;
    Notify("RELOADING=1");
    const auto refuse = [](const std::string& strWhy) {
        Say(Priority::warning, "reload refused, the link runs on as it was: " + strWhy);
        Notify("READY=1\nSTATUS=reload refused: " + strWhy);
    };
    if (!IsFile(g_strSettingsName)) {
        refuse("the settings file " + g_strSettingsFile + " is not there");
        return;
    }
    if (const std::string strWrong = bridge.CheckNetworkSettings(); !strWrong.empty()) {
        refuse(strWrong);
        return;
    }
    const SettingsPrint print = ReadSettingsPrint();
    const bool bLink = print.link != g_print.link;
    const bool bSerial = bLink || print.serial != g_print.serial;
    const bool bNetwork = bLink || print.network != g_print.network;
    g_print = print;
    g_pLines->SetClosingAsked(true);
    bridge.ReopenSides(bSerial, bNetwork, kFlushMs);
    g_pLines->SetClosingAsked(false);
    Say(Priority::notice, std::string("settings read again from ") + g_strSettingsFile + ": " +
                              (bSerial && bNetwork ? "the link opened again on them"
                               : bSerial           ? "the serial side opened again on them"
                               : bNetwork          ? "the network side opened again on them"
                                                   : "no side's settings changed"));
    Notify("READY=1\n" + StatusNotice());
}

// Every tick: a link down for good ends the program; the watchdog hears that it is alive; old
// logs go at a new day.
void OnTick(CDialog& dlg) {
    auto& bridge = static_cast<CVarnelDlg&>(dlg);
    bridge.KeepLogDays();
    const std::chrono::milliseconds watchdog = manager::WatchdogPeriod();
    if (watchdog.count() > 0 && std::chrono::steady_clock::now() >= g_nextWatchdog) {
        Notify("WATCHDOG=1");
        g_nextWatchdog = std::chrono::steady_clock::now() + watchdog;
    }
    if (!g_bStarted || g_bEnding || !bridge.LinkDownForGood())
        return;
    Say(Priority::warning, "the link is down and RECONNECT is off, so nothing brings it back; "
                           "ending with status 3 for the service manager to start it again");
    End(bridge, kLinkDownForGood, IDABORT);
}

// The settings file named (or the default one): its folder becomes the current directory. False
// when the program cannot run on it, after saying why.
bool UseSettingsFile(const std::optional<std::string>& config) {
    if (!config) {
        g_strSettingsFile = g_strSettingsName = "VarnelConfig.ini";
        SpeakOfTheSettingsFile(g_strSettingsFile);
        if (!IsFile(g_strSettingsName))
            Say(Priority::warning,
                "no settings file: no --config, and no VarnelConfig.ini in the current "
                "directory; running on the defaults (COM3 at 115200 baud, the server "
                "127.0.0.1:8000, REOPEN on, RECONNECT off)");
        return true;
    }
    g_strSettingsFile = *config;
    std::string strFolder;
    SplitPath(*config, strFolder, g_strSettingsName);
    if (g_strSettingsName.empty() || !IsFile(*config)) {
        Say(Priority::err, "the settings file " + *config + " does not exist or is not a file");
        return false;
    }
    if (!EnterFolder(strFolder)) {
        Say(Priority::err, "cannot enter the folder of the settings file " + *config);
        return false;
    }
    SpeakOfTheSettingsFile(*config);
    static std::string strProfileName;
    strProfileName = ".\\" + g_strSettingsName;
    SETTINGS_FILE = strProfileName.c_str();
    return true;
}

// The bridge until it ends, its status lines and messages to out; the program's exit status.
int RunBridge(std::FILE* out, const std::optional<std::string>& config) {
    g_out = out;
    afx::headless::SetMessageOutput(out);
    SetProfileWritesEnabled(false);
    CStatusLines statusLines(out, out == stderr && manager::ErrorsGoToJournal(),
                             [](const std::string& strSummary) { Notify("STATUS=" + strSummary); });
    g_pLines = &statusLines;
    struct Forget {
        ~Forget() { g_pLines = nullptr; }
    } forget;
    if (!UseSettingsFile(config))
        return 1;
    if (!AfxSocketInit()) {
        Say(Priority::err, AfxLoadString(IDP_SOCKETS_INIT_FAILED).c_str());
        return 1;
    }
    afx::headless::SetPushObserver([&statusLines](CDialog& dlg) { statusLines.Observe(dlg); });
    afx::headless::SetStartHandler(OnStart);
    afx::headless::SetStopHandler(OnStop);
    afx::headless::SetReloadHandler(OnReload);
    afx::headless::SetTicker(kTickPeriod, OnTick);
    const int nResult = AfxWinMain(0, nullptr);
    afx::headless::SetTicker(std::chrono::milliseconds(0), nullptr);
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
    std::optional<std::string> config;
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
        if (arg == "--config" || arg == "-c" || arg.rfind("--config=", 0) == 0) {
            if (config)
                return WrongCommandLine("only one settings file");
            if (arg.rfind("--config=", 0) == 0) {
                config = arg.substr(9);
            } else {
                if (operands < 1)
                    return WrongCommandLine(arg + " needs the settings file");
                config = args[++i];
            }
            if (config->empty())
                return WrongCommandLine(arg + " needs the settings file");
            continue;
        }
        if (service::Offered() && (arg == "--install-service" || arg == "--service")) {
            if (operands != 2)
                return WrongCommandLine(arg + " needs a service name and a folder, nothing more");
            return arg == "--service"
                       ? service::Run(
                             args[i + 1], args[i + 2],
                             [](std::FILE* out) { return RunBridge(out, std::nullopt); },
                             afx::headless::RequestStop, afx::headless::RequestReload)
                       : service::Install(args[i + 1], args[i + 2]);
        }
        if (service::Offered() && arg == "--remove-service") {
            if (operands != 1)
                return WrongCommandLine(arg + " needs a service name, nothing more");
            return service::Remove(args[i + 1]);
        }
        return WrongCommandLine("unknown option '" + arg + "'");
    }
    return RunBridge(stderr, config);
}
