// The Windows backend's calls into the system (see Native.h). The only file of the framework,
// besides the pane's, that includes <windows.h>.
#include "app/framework/win32/Native.h"

#include <winsock2.h>

#include <commctrl.h>
#include <mmsystem.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <map>
#include <memory>
#include <mutex>
#include <set>

namespace w32 {
namespace {

constexpr UINT WM_APP_ONESHOT = WM_APP + 1; // wParam: timer id, lParam: serial
constexpr UINT WM_APP_EVENT = WM_APP + 2;   // wParam: watch id, lParam: serial
constexpr UINT WM_APP_SOCKET = WM_APP + 3;  // wParam: socket, lParam: WSAAsyncSelect's word
constexpr UINT WM_APP_CALL = WM_APP + 4;    // lParam: a heap std::function, run and freed

constexpr COLORREF kErrorColour = RGB(0xC0, 0x10, 0x10);

std::wstring Widen(const std::string& utf8) {
    if (utf8.empty())
        return {};
    const int n =
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), w.data(), n);
    return w;
}

std::string Narrow(const wchar_t* text, int length) {
    if (length <= 0)
        return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, length, s.data(), n, nullptr, nullptr);
    return s;
}

std::string Narrow(const std::wstring& text) {
    return Narrow(text.data(), static_cast<int>(text.size()));
}

// Tooltips and error colours belong to single controls; kept here by window.
std::map<HWND, HWND> g_tips; // dialog -> its tooltip window
std::map<HWND, std::wstring> g_tipTexts;
std::set<HWND> g_errorColour;

// The waiter of an event watch: a thread that waits for the event, posts one message to the
// window and then waits until the window asks for the next one (ArmEventWait), so that an event
// that stays set is one message per call, not a stream.
struct EventWait {
    HWND dlg;
    UINT_PTR id;
    HANDLE event;
    std::atomic<std::uint32_t> serial;
    HANDLE ack = nullptr;  // auto-reset: the window wants the next set
    HANDLE stop = nullptr; // manual-reset: the watch ends
    HANDLE thread = nullptr;
};

DWORD WINAPI EventWaiter(LPVOID context) {
    auto* w = static_cast<EventWait*>(context);
    for (;;) {
        HANDLE set[2] = {w->stop, w->event};
        if (::WaitForMultipleObjects(2, set, FALSE, INFINITE) != WAIT_OBJECT_0 + 1)
            return 0;
        ::PostMessageW(w->dlg, WM_APP_EVENT, w->id, static_cast<LPARAM>(w->serial.load()));
        HANDLE next[2] = {w->stop, w->ack};
        if (::WaitForMultipleObjects(2, next, FALSE, INFINITE) != WAIT_OBJECT_0 + 1)
            return 0;
    }
}

struct OneShot {
    HWND dlg;
    UINT msg;
    UINT_PTR id;
    std::uint32_t serial;
};
std::mutex g_oneShotMutex;
std::map<UINT, OneShot> g_oneShots;

void CALLBACK OneShotFired(UINT timer, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR) {
    std::lock_guard lock(g_oneShotMutex);
    auto it = g_oneShots.find(timer);
    if (it == g_oneShots.end())
        return;
    ::PostMessageW(it->second.dlg, it->second.msg, it->second.id,
                   static_cast<LPARAM>(it->second.serial));
    g_oneShots.erase(it);
}

DialogHost* HostOf(HWND dlg) {
    return reinterpret_cast<DialogHost*>(::GetWindowLongPtrW(dlg, DWLP_USER));
}

bool IsClass(HWND wnd, const wchar_t* name) {
    wchar_t cls[64] = {};
    ::GetClassNameW(wnd, cls, 64);
    return ::_wcsicmp(cls, name) == 0;
}

INT_PTR CALLBACK DialogProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_INITDIALOG) {
        ::SetWindowLongPtrW(dlg, DWLP_USER, lp);
        return FALSE; // the dialog object sets the focus when it has initialised
    }
    DialogHost* host = HostOf(dlg);
    if (!host)
        return FALSE;
    switch (msg) {
    case WM_COMMAND: {
        const int id = LOWORD(wp);
        const int code = HIWORD(wp);
        const HWND control = reinterpret_cast<HWND>(lp);
        if (!control || (id == IDCANCEL && code == BN_CLICKED)) {
            host->HostCommand(id); // Enter, Esc
        } else if (IsClass(control, L"Button")) {
            if (code == BN_CLICKED)
                host->HostCommand(id);
        } else if (IsClass(control, L"ComboBox")) {
            if (code == CBN_SELCHANGE)
                host->HostSelChange(id);
        }
        return TRUE;
    }
    case WM_SYSCOMMAND: {
        const unsigned id = static_cast<unsigned>(wp & 0xFFF0u);
        if (!host->HostOwnsSysCommand(id))
            return FALSE;
        host->HostSysCommand(id);
        ::SetWindowLongPtrW(dlg, DWLP_MSGRESULT, 0);
        return TRUE;
    }
    case WM_CLOSE:
        host->HostCommand(IDCANCEL);
        return TRUE;
    case WM_TIMER:
        host->HostTimer(wp);
        return TRUE;
    case WM_APP_ONESHOT:
        host->HostOneShot(wp, static_cast<std::uint32_t>(lp));
        return TRUE;
    case WM_APP_EVENT:
        host->HostEvent(wp, static_cast<std::uint32_t>(lp));
        return TRUE;
    case WM_APP_SOCKET: {
        const int events = WSAGETSELECTEVENT(lp);
        host->HostSocket(static_cast<std::intptr_t>(wp), events & (FD_READ | FD_CLOSE),
                         events & (FD_WRITE | FD_CLOSE));
        return TRUE;
    }
    case WM_APP_CALL: {
        std::unique_ptr<std::function<void()>> call(reinterpret_cast<std::function<void()>*>(lp));
        (*call)();
        return TRUE;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
        const HWND control = reinterpret_cast<HWND>(lp);
        if (!g_errorColour.count(control))
            return FALSE;
        const HDC dc = reinterpret_cast<HDC>(wp);
        ::SetTextColor(dc, kErrorColour);
        ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
        return reinterpret_cast<INT_PTR>(::GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_DESTROY: {
        for (HWND c = ::GetWindow(dlg, GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT)) {
            g_tipTexts.erase(c);
            g_errorColour.erase(c);
        }
        g_tips.erase(dlg);
        return FALSE;
    }
    default:
        return FALSE;
    }
}

HINSTANCE Instance() {
    return ::GetModuleHandleW(nullptr);
}

} // namespace

bool InitGui() {
    static const bool ok = [] {
        INITCOMMONCONTROLSEX icc{sizeof icc,
                                 ICC_INTERNET_CLASSES | ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
        const bool common = ::InitCommonControlsEx(&icc) != FALSE;
        ::timeBeginPeriod(1);
        return RegisterPaneClass() && common;
    }();
    return ok;
}

std::vector<std::uint16_t> Utf16(const std::string& utf8) {
    const std::wstring w = Widen(utf8);
    return std::vector<std::uint16_t>(w.begin(), w.end());
}

Hwnd CreateDialogFromTemplate(const std::vector<std::uint8_t>& tpl, Hwnd owner, DialogHost* host) {
    InitGui();
    return ::CreateDialogIndirectParamW(Instance(), reinterpret_cast<LPCDLGTEMPLATEW>(tpl.data()),
                                        owner, DialogProc, reinterpret_cast<LPARAM>(host));
}

void DestroyDialog(Hwnd dlg) {
    if (dlg && ::IsWindow(dlg)) {
        ::SetWindowLongPtrW(dlg, DWLP_USER, 0);
        ::DestroyWindow(dlg);
    }
}

void ShowDialog(Hwnd dlg, bool show) {
    ::ShowWindow(dlg, show ? SW_SHOW : SW_HIDE);
    if (show) {
        ::SetForegroundWindow(dlg);
        ::UpdateWindow(dlg);
    }
}

void CentreOn(Hwnd dlg, Hwnd owner) {
    RECT area{};
    if (owner && ::IsWindowVisible(owner))
        ::GetWindowRect(owner, &area);
    else
        ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    RECT r{};
    ::GetWindowRect(dlg, &r);
    const int w = r.right - r.left;
    const int h = r.bottom - r.top;
    const int x = std::max<int>(area.left, (area.left + area.right - w) / 2);
    const int y = std::max<int>(area.top, (area.top + area.bottom - h) / 2);
    ::SetWindowPos(dlg, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool IsVisible(Hwnd wnd) {
    return wnd && ::IsWindowVisible(wnd);
}

void Minimise(Hwnd dlg) {
    ::ShowWindow(dlg, SW_MINIMIZE);
}

std::vector<Hwnd> Children(Hwnd dlg) {
    std::vector<Hwnd> result;
    for (HWND c = ::GetWindow(dlg, GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT))
        result.push_back(c);
    return result;
}

void SetDefaultButton(Hwnd dlg, int id) {
    ::SendMessageW(dlg, DM_SETDEFID, static_cast<WPARAM>(id), 0);
}

void AppendSystemMenu(Hwnd dlg, unsigned id, const char* text) {
    HMENU menu = ::GetSystemMenu(dlg, FALSE);
    if (!menu)
        return;
    if (!text)
        ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    else
        ::AppendMenuW(menu, MF_STRING, id, Widen(text).c_str());
}

void TrackSystemMenu(Hwnd dlg, int x, int y, bool atCorner) {
    HMENU menu = ::GetSystemMenu(dlg, FALSE);
    if (!menu)
        return;
    if (atCorner) {
        RECT r{};
        ::GetWindowRect(dlg, &r);
        x = r.left;
        y = r.top;
    }
    const UINT chosen = static_cast<UINT>(
        ::TrackPopupMenu(menu, TPM_RETURNCMD | TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON, x, y,
                         0, dlg, nullptr));
    if (chosen)
        ::SendMessageW(dlg, WM_SYSCOMMAND, chosen, 0);
}

void SetIcon(Hwnd dlg, int resourceId, bool big) {
    const int size = ::GetSystemMetrics(big ? SM_CXICON : SM_CXSMICON);
    auto icon = static_cast<HICON>(
        ::LoadImageW(Instance(), MAKEINTRESOURCEW(resourceId), IMAGE_ICON, size, size, LR_SHARED));
    if (icon)
        ::SendMessageW(dlg, WM_SETICON, big ? ICON_BIG : ICON_SMALL,
                       reinterpret_cast<LPARAM>(icon));
}

// ---------------------------------------------------------------------------------------------
namespace {

// The four fields of an address control, left to right.
std::vector<HWND> IpFields(HWND ip) {
    std::vector<std::pair<LONG, HWND>> fields;
    for (HWND c = ::GetWindow(ip, GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT)) {
        RECT r{};
        ::GetWindowRect(c, &r);
        fields.emplace_back(r.left, c);
    }
    std::sort(fields.begin(), fields.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<HWND> result;
    for (const auto& f : fields)
        result.push_back(f.second);
    return result;
}

// Dotted decimal into an address control: a part that is not one to three digits leaves its
// field blank, a value above 255 shows as 255.
void SetIpText(HWND ip, const std::string& text) {
    int values[4] = {-1, -1, -1, -1};
    std::size_t start = 0;
    for (int& value : values) {
        if (start > text.size())
            break;
        std::size_t dot = text.find('.', start);
        if (dot == std::string::npos)
            dot = text.size();
        const std::string part = text.substr(start, dot - start);
        if (!part.empty() && part.size() <= 3 &&
            std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; }))
            value = std::min(std::stoi(part), 255);
        start = dot + 1;
    }
    ::SendMessageW(ip, IPM_CLEARADDRESS, 0, 0);
    if (std::all_of(std::begin(values), std::end(values), [](int v) { return v >= 0; })) {
        ::SendMessageW(ip, IPM_SETADDRESS, 0,
                       MAKEIPADDRESS(values[0], values[1], values[2], values[3]));
        return;
    }
    const std::vector<HWND> fields = IpFields(ip);
    for (std::size_t i = 0; i < 4 && i < fields.size(); ++i)
        if (values[i] >= 0)
            ::SetWindowTextW(fields[i], std::to_wstring(values[i]).c_str());
}

std::string IpText(HWND ip) {
    DWORD a = 0;
    ::SendMessageW(ip, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&a));
    return std::to_string(FIRST_IPADDRESS(a)) + "." + std::to_string(SECOND_IPADDRESS(a)) + "." +
           std::to_string(THIRD_IPADDRESS(a)) + "." + std::to_string(FOURTH_IPADDRESS(a));
}

} // namespace

void SetText(Hwnd wnd, const std::string& utf8) {
    if (!wnd)
        return;
    if (IsPane(wnd)) {
        PaneSetBytes(wnd, utf8);
        return;
    }
    if (IsClass(wnd, WC_IPADDRESSW)) {
        SetIpText(wnd, utf8);
        return;
    }
    const std::wstring text = Widen(utf8);
    // An edit that shows the text already keeps its caret and selection.
    if (IsClass(wnd, L"Edit") && Widen(GetText(wnd)) == text)
        return;
    ::SetWindowTextW(wnd, text.c_str());
}

std::string GetText(Hwnd wnd) {
    if (!wnd)
        return {};
    if (IsPane(wnd))
        return PaneBytes(wnd);
    if (IsClass(wnd, WC_IPADDRESSW))
        return IpText(wnd);
    const int n = ::GetWindowTextLengthW(wnd);
    std::wstring text(static_cast<std::size_t>(n) + 1, L'\0');
    const int got = ::GetWindowTextW(wnd, text.data(), n + 1);
    return Narrow(text.data(), got);
}

void Enable(Hwnd wnd, bool enable) {
    if (wnd)
        ::EnableWindow(wnd, enable);
}

bool IsEnabled(Hwnd wnd) {
    return wnd && ::IsWindowEnabled(wnd);
}

void Focus(Hwnd wnd) {
    if (!wnd)
        return;
    const HWND dlg = ::GetAncestor(wnd, GA_ROOT);
    if (dlg && dlg != wnd && IsClass(dlg, L"#32770"))
        ::SendMessageW(dlg, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(wnd), TRUE);
    else
        ::SetFocus(wnd);
}

Hwnd FocusedWindow() {
    return ::GetFocus();
}

bool IsIconic(Hwnd wnd) {
    return wnd && ::IsIconic(::GetAncestor(wnd, GA_ROOT));
}

Hwnd ParentOf(Hwnd wnd) {
    return ::GetParent(wnd);
}

std::string ClassName(Hwnd wnd) {
    wchar_t cls[64] = {};
    const int n = ::GetClassNameW(wnd, cls, 64);
    return Narrow(cls, n);
}

void SetToolTip(Hwnd dlg, Hwnd control, const std::string& utf8) {
    if (!dlg || !control)
        return;
    HWND& tip = g_tips[dlg];
    if (!tip) {
        tip =
            ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                              WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT, CW_USEDEFAULT,
                              CW_USEDEFAULT, CW_USEDEFAULT, dlg, nullptr, Instance(), nullptr);
        ::SendMessageW(tip, TTM_SETMAXTIPWIDTH, 0, 480);
    }
    TTTOOLINFOW info{};
    info.cbSize = TTTOOLINFOW_V2_SIZE;
    info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    info.hwnd = dlg;
    info.uId = reinterpret_cast<UINT_PTR>(control);
    ::SendMessageW(tip, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&info));
    if (utf8.empty()) {
        g_tipTexts.erase(control);
        return;
    }
    std::wstring& text = g_tipTexts[control];
    text = Widen(utf8);
    info.lpszText = text.data();
    ::SendMessageW(tip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
}

std::string ToolTip(Hwnd control) {
    auto it = g_tipTexts.find(control);
    return it == g_tipTexts.end() ? std::string() : Narrow(it->second);
}

void SetErrorColour(Hwnd control, bool error) {
    if (!control)
        return;
    const bool had = g_errorColour.count(control) != 0;
    if (error)
        g_errorColour.insert(control);
    else
        g_errorColour.erase(control);
    if (had != error)
        ::InvalidateRect(control, nullptr, TRUE);
}

bool HasErrorColour(Hwnd control) {
    return g_errorColour.count(control) != 0;
}

// ---------------------------------------------------------------------------------------------
int GetCheck(Hwnd button) {
    return button && ::SendMessageW(button, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
}

void SetCheck(Hwnd button, bool checked) {
    if (button)
        ::SendMessageW(button, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

int ListCurSel(Hwnd combo) {
    return combo ? static_cast<int>(::SendMessageW(combo, CB_GETCURSEL, 0, 0)) : CB_ERR;
}

int ListSetCurSel(Hwnd combo, int index) {
    if (!combo)
        return CB_ERR;
    const int result = static_cast<int>(::SendMessageW(combo, CB_SETCURSEL, index, 0));
    if (result == CB_ERR)
        ::SetWindowTextW(combo, L"");
    return result;
}

int ListCount(Hwnd combo) {
    return combo ? static_cast<int>(::SendMessageW(combo, CB_GETCOUNT, 0, 0)) : 0;
}

int ListAdd(Hwnd combo, const std::string& utf8) {
    if (!combo)
        return CB_ERR;
    const std::wstring text = Widen(utf8);
    return static_cast<int>(
        ::SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str())));
}

std::string ListText(Hwnd combo, int index) {
    if (!combo)
        return {};
    const LRESULT n = ::SendMessageW(combo, CB_GETLBTEXTLEN, index, 0);
    if (n == CB_ERR)
        return {};
    std::wstring text(static_cast<std::size_t>(n) + 1, L'\0');
    const LRESULT got =
        ::SendMessageW(combo, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text.data()));
    return got == CB_ERR ? std::string() : Narrow(text.data(), static_cast<int>(got));
}

void ListReset(Hwnd combo) {
    if (combo) {
        ::SendMessageW(combo, CB_RESETCONTENT, 0, 0);
        ::SetWindowTextW(combo, L"");
    }
}

int IpGet(Hwnd ip, std::uint32_t& address) {
    DWORD a = 0;
    const int n =
        ip ? static_cast<int>(::SendMessageW(ip, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&a)))
           : 0;
    address = a;
    return n;
}

void IpSet(Hwnd ip, std::uint32_t address) {
    if (ip)
        ::SendMessageW(ip, IPM_SETADDRESS, 0, static_cast<LPARAM>(address));
}

void IpClear(Hwnd ip) {
    if (ip)
        ::SendMessageW(ip, IPM_CLEARADDRESS, 0, 0);
}

bool IpBlank(Hwnd ip) {
    return !ip || ::SendMessageW(ip, IPM_ISBLANK, 0, 0) != 0;
}

// ---------------------------------------------------------------------------------------------
int ShowMessageBox(Hwnd owner, const std::string& text, const std::string& caption, unsigned type) {
    return ::MessageBoxW(owner, Widen(text).c_str(), Widen(caption).c_str(), type);
}

// ---------------------------------------------------------------------------------------------
void StartTimer(Hwnd dlg, std::uintptr_t id, unsigned ms) {
    ::SetTimer(dlg, id, ms, nullptr);
}

void StopTimer(Hwnd dlg, std::uintptr_t id) {
    ::KillTimer(dlg, id);
}

namespace {

unsigned StartPost(Hwnd dlg, UINT msg, std::uintptr_t id, std::uint32_t serial, unsigned ms) {
    InitGui();
    std::lock_guard lock(g_oneShotMutex);
    const MMRESULT timer = ::timeSetEvent(
        ms, 1, OneShotFired, 0, TIME_ONESHOT | TIME_CALLBACK_FUNCTION | TIME_KILL_SYNCHRONOUS);
    if (timer == 0) {
        // No multimedia timer (none left): the message goes at once.
        ::PostMessageW(dlg, msg, id, static_cast<LPARAM>(serial));
        return 0;
    }
    g_oneShots[timer] = OneShot{dlg, msg, id, serial};
    return timer;
}

} // namespace

unsigned StartOneShot(Hwnd dlg, std::uintptr_t id, std::uint32_t serial, unsigned ms) {
    return StartPost(dlg, WM_APP_ONESHOT, id, serial, ms);
}

unsigned StartDelayedEvent(Hwnd dlg, std::uintptr_t id, std::uint32_t serial, unsigned ms) {
    return StartPost(dlg, WM_APP_EVENT, id, serial, ms);
}

bool IsSignalled(void* event) {
    return event && ::WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

void StopOneShot(unsigned timer) {
    if (timer == 0)
        return;
    ::timeKillEvent(timer);
    std::lock_guard lock(g_oneShotMutex);
    g_oneShots.erase(timer);
}

void* RegisterEventWait(Hwnd dlg, void* event, std::uintptr_t id, std::uint32_t serial) {
    auto* w = new EventWait{dlg, id, event, {serial}};
    w->ack = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    w->stop = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (w->ack && w->stop)
        w->thread = ::CreateThread(nullptr, 64 * 1024, EventWaiter, w, 0, nullptr);
    if (!w->thread) {
        UnregisterEventWait(w);
        return nullptr;
    }
    return w;
}

void ArmEventWait(void* wait, std::uint32_t serial) {
    auto* w = static_cast<EventWait*>(wait);
    if (!w)
        return;
    w->serial.store(serial);
    ::SetEvent(w->ack);
}

void UnregisterEventWait(void* wait) {
    auto* w = static_cast<EventWait*>(wait);
    if (!w)
        return;
    if (w->thread) {
        ::SetEvent(w->stop);
        ::WaitForSingleObject(w->thread, INFINITE);
        ::CloseHandle(w->thread);
    }
    if (w->ack)
        ::CloseHandle(w->ack);
    if (w->stop)
        ::CloseHandle(w->stop);
    delete w;
}

void SelectSocket(Hwnd dlg, std::intptr_t socket, bool readable, bool writable) {
    long events = 0;
    if (readable)
        events |= FD_READ | FD_CLOSE;
    if (writable)
        events |= FD_WRITE | FD_CLOSE;
    ::WSAAsyncSelect(static_cast<SOCKET>(socket), dlg, events ? WM_APP_SOCKET : 0, events);
}

bool SocketReady(std::intptr_t socket, bool writable) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(static_cast<SOCKET>(socket), &set);
    timeval now{0, 0};
    return ::select(0, writable ? nullptr : &set, writable ? &set : nullptr, nullptr, &now) > 0;
}

void PostCall(Hwnd dlg, std::function<void()> call) {
    auto* heap = new std::function<void()>(std::move(call));
    if (!::PostMessageW(dlg, WM_APP_CALL, 0, reinterpret_cast<LPARAM>(heap)))
        delete heap;
}

// ---------------------------------------------------------------------------------------------
namespace {

void Dispatch(MSG& msg) {
    const HWND root = msg.hwnd ? ::GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
    if (root && IsClass(root, L"#32770") && ::IsDialogMessageW(root, &msg))
        return;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
}

} // namespace

bool RunLoop(const std::function<bool()>& done, int timeoutMs) {
    const ULONGLONG deadline = timeoutMs < 0 ? 0 : ::GetTickCount64() + timeoutMs;
    while (!done()) {
        MSG msg;
        if (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                ::PostQuitMessage(static_cast<int>(msg.wParam));
                return done();
            }
            Dispatch(msg);
            continue;
        }
        DWORD wait = INFINITE;
        if (timeoutMs >= 0) {
            const ULONGLONG now = ::GetTickCount64();
            if (now >= deadline)
                return done();
            wait = static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, 10));
        }
        ::MsgWaitForMultipleObjectsEx(0, nullptr, wait, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
    return true;
}

void EnableOwner(Hwnd owner, bool enable) {
    if (owner)
        ::EnableWindow(owner, enable);
}

// ---------------------------------------------------------------------------------------------
void ClickButton(Hwnd button) {
    ::SendMessageW(button, BM_CLICK, 0, 0);
}

void ChooseListItem(Hwnd dlg, Hwnd combo, int index) {
    ::SendMessageW(combo, CB_SETCURSEL, index, 0);
    ::SendMessageW(dlg, WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(combo), CBN_SELCHANGE),
                   reinterpret_cast<LPARAM>(combo));
}

void SendSysCommand(Hwnd dlg, unsigned id) {
    ::SendMessageW(dlg, WM_SYSCOMMAND, id, 0);
}

void SendKey(Hwnd wnd, int virtualKey) {
    MSG msg{wnd, WM_KEYDOWN, static_cast<WPARAM>(virtualKey), 1, 0, {}};
    Dispatch(msg);
    MSG up{wnd, WM_KEYUP, static_cast<WPARAM>(virtualKey), static_cast<LPARAM>(0xC0000001u), 0, {}};
    Dispatch(up);
}

void CloseWindow(Hwnd dlg) {
    ::SendMessageW(dlg, WM_CLOSE, 0, 0);
}

} // namespace w32
