// The program as a Windows service: its registration with the service control manager
// (--install-service, --remove-service) and its run under the manager (--service), where the
// manager's stop ends the bridge as Ctrl+C does.
#include "app/service/Service.h"

#include <windows.h>
// After the system's header, whose functions it uses.
#include "app/service/win32/WideText.h"

#include <cstdio>
#include <cwchar>
#include <memory>

namespace service {
namespace {

// How long a stopping service may take, as told to the manager: the backlog's 2 s and the
// closing of the link.
constexpr DWORD kStopWaitHintMs = 5000;
// How long --remove-service waits for a running service to stop.
constexpr DWORD kRemoveStopWaitMs = 10000;

// The system's words for an error, with its number.
std::string Reason(DWORD error) {
    switch (error) {
    case ERROR_ACCESS_DENIED:
        return "access denied; run it as an administrator (error 5)";
    case ERROR_SERVICE_EXISTS:
        return "a service of that name exists already (error 1073)";
    case ERROR_SERVICE_DOES_NOT_EXIST:
        return "there is no service of that name (error 1060)";
    case ERROR_SERVICE_MARKED_FOR_DELETE:
        return "the service is being deleted already (error 1072)";
    default:
        break;
    }
    wchar_t* text = nullptr;
    const DWORD n = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::wstring words = n > 0 && text ? std::wstring(text, n) : L"";
    if (text)
        ::LocalFree(text);
    while (!words.empty() &&
           (words.back() == L'\n' || words.back() == L'\r' || words.back() == L'.'))
        words.pop_back();
    return (words.empty() ? "error" : Utf8(words.c_str()) + ";") + " error " +
           std::to_string(error);
}

int Fail(const char* what, const std::string& name, DWORD error) {
    std::fprintf(stderr, "varnel-headless: %s %s: %s\n", what, name.c_str(), Reason(error).c_str());
    return 1;
}

struct HandleCloser {
    void operator()(SC_HANDLE h) const { ::CloseServiceHandle(h); }
};
using ScHandle = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, HandleCloser>;

// --- the running service -------------------------------------------------------------------

struct Running {
    std::wstring name;
    std::wstring dir;
    const std::function<int(std::FILE*)>* bridge = nullptr;
    const std::function<void()>* stop = nullptr;
    const std::function<void()>* reload = nullptr;
    SERVICE_STATUS_HANDLE handle = nullptr;
    SERVICE_STATUS status{};
    int exitCode = 0;
};
Running g_running;

void Report(DWORD state, DWORD waitHintMs = 0, DWORD exitCode = NO_ERROR) {
    SERVICE_STATUS& s = g_running.status;
    s.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    s.dwCurrentState = state;
    s.dwControlsAccepted =
        state == SERVICE_RUNNING
            ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_PARAMCHANGE
            : 0;
    s.dwWin32ExitCode = exitCode == NO_ERROR ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
    s.dwServiceSpecificExitCode = exitCode;
    s.dwWaitHint = waitHintMs;
    if (state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING)
        ++s.dwCheckPoint;
    else
        s.dwCheckPoint = 0;
    ::SetServiceStatus(g_running.handle, &s);
}

// On the dispatcher's thread: a stop or the system's shutdown ends the bridge as Ctrl+C does; a
// PARAMCHANGE reads the settings file again.
DWORD WINAPI OnControl(DWORD control, DWORD, LPVOID, LPVOID) {
    switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        Report(SERVICE_STOP_PENDING, kStopWaitHintMs);
        (*g_running.stop)();
        return NO_ERROR;
    case SERVICE_CONTROL_PARAMCHANGE:
        (*g_running.reload)();
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI ServiceMain(DWORD, LPWSTR*) {
    g_running.handle = ::RegisterServiceCtrlHandlerExW(g_running.name.c_str(), OnControl, nullptr);
    if (!g_running.handle)
        return;
    Report(SERVICE_START_PENDING, kStopWaitHintMs);
    if (!::SetCurrentDirectoryW(g_running.dir.c_str())) {
        g_running.exitCode = 1;
        Report(SERVICE_STOPPED, 0, 1);
        return;
    }
    // Its status lines and messages, kept in its folder: a service has no console, and its
    // standard error is not open. Without the file they go nowhere and it runs all the same.
    std::FILE* out = _wfopen(Wide(kStatusFile).c_str(), L"a");
    Report(SERVICE_RUNNING);
    g_running.exitCode = (*g_running.bridge)(out ? out : stderr);
    if (out)
        std::fclose(out);
    Report(SERVICE_STOPPED, 0, static_cast<DWORD>(g_running.exitCode));
}

} // namespace

bool Offered() {
    return true;
}

const char* Usage() {
    return "       varnel-headless --install-service NAME DIR | --remove-service NAME\n"
           "--install-service registers the Windows service NAME (display name \"Varnel NAME\",\n"
           "started on demand: net start NAME) that bridges as above in the folder DIR, its\n"
           "status lines appended to DIR\\varnel-headless.log; net stop NAME ends it as Ctrl+C\n"
           "does. --remove-service stops and deletes it. Both need an administrator.\n";
}

int Install(const std::string& name, const std::string& dir) {
    wchar_t full[MAX_PATH] = {};
    const std::wstring wdir = Wide(dir);
    const DWORD n = ::GetFullPathNameW(wdir.c_str(), MAX_PATH, full, nullptr);
    const DWORD attributes =
        n > 0 && n < MAX_PATH ? ::GetFileAttributesW(full) : INVALID_FILE_ATTRIBUTES;
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        std::fprintf(stderr, "varnel-headless: cannot install %s: %s is no folder\n", name.c_str(),
                     dir.c_str());
        return 1;
    }
    wchar_t exe[MAX_PATH] = {};
    const DWORD exeLength = ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
    if (exeLength == 0 || exeLength >= MAX_PATH)
        return Fail("cannot install", name, ::GetLastError());
    std::wstring folder = full;
    if (folder.size() > 3 && folder.back() == L'\\')
        folder.pop_back(); // a quoted "C:\dir\" would quote its closing quote
    const std::wstring wname = Wide(name);
    const std::wstring command =
        L"\"" + std::wstring(exe) + L"\" --service \"" + wname + L"\" \"" + folder + L"\"";
    const std::wstring display = L"Varnel " + wname;

    ScHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
    if (!manager)
        return Fail("cannot install", name, ::GetLastError());
    ScHandle created(::CreateServiceW(manager.get(), wname.c_str(), display.c_str(),
                                      SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                      SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, command.c_str(),
                                      nullptr, nullptr, nullptr, nullptr, nullptr));
    if (!created)
        return Fail("cannot install", name, ::GetLastError());
    std::wstring about = L"Bridges the serial port and the TCP server of VarnelConfig.ini in " +
                         folder + L", without a window.";
    SERVICE_DESCRIPTIONW description{about.data()};
    ::ChangeServiceConfig2W(created.get(), SERVICE_CONFIG_DESCRIPTION, &description);
    std::printf("varnel-headless: installed the service %s (\"Varnel %s\", started on demand) in "
                "%s; start it with: net start %s\n",
                name.c_str(), name.c_str(), Utf8(folder.c_str()).c_str(), name.c_str());
    return 0;
}

int Remove(const std::string& name) {
    ScHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager)
        return Fail("cannot remove", name, ::GetLastError());
    ScHandle found(::OpenServiceW(manager.get(), Wide(name).c_str(),
                                  SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
    if (!found)
        return Fail("cannot remove", name, ::GetLastError());
    SERVICE_STATUS status{};
    if (::QueryServiceStatus(found.get(), &status) && status.dwCurrentState != SERVICE_STOPPED) {
        if (status.dwCurrentState != SERVICE_STOP_PENDING &&
            !::ControlService(found.get(), SERVICE_CONTROL_STOP, &status))
            return Fail("cannot stop", name, ::GetLastError());
        const ULONGLONG until = ::GetTickCount64() + kRemoveStopWaitMs;
        while (::QueryServiceStatus(found.get(), &status) &&
               status.dwCurrentState != SERVICE_STOPPED && ::GetTickCount64() < until)
            ::Sleep(100);
        if (status.dwCurrentState != SERVICE_STOPPED) {
            std::fprintf(stderr, "varnel-headless: the service %s did not stop within %u s\n",
                         name.c_str(), static_cast<unsigned>(kRemoveStopWaitMs / 1000));
            return 1;
        }
        std::printf("varnel-headless: stopped the service %s\n", name.c_str());
    }
    if (!::DeleteService(found.get()))
        return Fail("cannot remove", name, ::GetLastError());
    std::printf("varnel-headless: removed the service %s\n", name.c_str());
    return 0;
}

int Run(const std::string& name, const std::string& dir,
        const std::function<int(std::FILE*)>& bridge, const std::function<void()>& stop,
        const std::function<void()>& reload) {
    g_running.name = Wide(name);
    g_running.dir = Wide(dir);
    g_running.bridge = &bridge;
    g_running.stop = &stop;
    g_running.reload = &reload;
    SERVICE_TABLE_ENTRYW table[] = {{g_running.name.data(), ServiceMain}, {nullptr, nullptr}};
    if (!::StartServiceCtrlDispatcherW(table)) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) {
            std::fputs("varnel-headless: --service is for the service manager; to bridge from a "
                       "console, start the program without options in the folder\n",
                       stderr);
            return 2;
        }
        return Fail("cannot run the service", name, error);
    }
    return g_running.exitCode;
}

} // namespace service
