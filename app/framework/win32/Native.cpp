// The Windows backend's calls into the system (see Native.h): start-up, the dialog's window and
// its procedure, message boxes, posted calls and the message loops. Controls, timers and waits
// have files of their own (NativeControls.cpp, NativeTimers.cpp, NativeWaits.cpp).
#include "app/framework/win32/NativeInternal.h"

#include <commctrl.h>
#include <mmsystem.h>

#include <algorithm>
#include <cwchar>
#include <memory>

namespace w32 {
namespace {

DialogHost* HostOf(HWND dlg) {
    return reinterpret_cast<DialogHost*>(::GetWindowLongPtrW(dlg, DWLP_USER));
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
        // A connect that ends, well or not, is news to whoever waits for writability.
        const int events = WSAGETSELECTEVENT(lp);
        host->HostSocket(static_cast<std::intptr_t>(wp), events & (FD_READ | FD_CLOSE),
                         events & (FD_WRITE | FD_CONNECT | FD_CLOSE));
        return TRUE;
    }
    case WM_APP_CALL: {
        std::unique_ptr<std::function<void()>> call(reinterpret_cast<std::function<void()>*>(lp));
        (*call)();
        return TRUE;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
        const HBRUSH brush =
            ErrorColourBrush(reinterpret_cast<HWND>(lp), reinterpret_cast<HDC>(wp));
        return brush ? reinterpret_cast<INT_PTR>(brush) : FALSE;
    }
    case WM_DESTROY:
        ForgetControls(dlg);
        return FALSE;
    default:
        return FALSE;
    }
}

} // namespace

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

bool IsClass(HWND wnd, const wchar_t* name) {
    wchar_t cls[64] = {};
    ::GetClassNameW(wnd, cls, 64);
    return ::_wcsicmp(cls, name) == 0;
}

HINSTANCE Instance() {
    return ::GetModuleHandleW(nullptr);
}

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

void AppendSystemMenu(Hwnd dlg, unsigned id, const char* text, bool checked) {
    HMENU menu = ::GetSystemMenu(dlg, FALSE);
    if (!menu)
        return;
    if (!text)
        ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    else
        ::AppendMenuW(menu, MF_STRING | (checked ? MF_CHECKED : MF_UNCHECKED), id,
                      Widen(text).c_str());
}

void CheckSystemMenuItem(Hwnd dlg, unsigned id, bool checked) {
    if (HMENU menu = ::GetSystemMenu(dlg, FALSE))
        ::CheckMenuItem(menu, id, MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
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
int ShowMessageBox(Hwnd owner, const std::string& text, const std::string& caption, unsigned type) {
    return ::MessageBoxW(owner, Widen(text).c_str(), Widen(caption).c_str(), type);
}

void PostCall(Hwnd dlg, std::function<void()> call) {
    auto* heap = new std::function<void()>(std::move(call));
    if (!::PostMessageW(dlg, WM_APP_CALL, 0, reinterpret_cast<LPARAM>(heap)))
        delete heap;
}

// ---------------------------------------------------------------------------------------------
void Dispatch(MSG& msg) {
    const HWND root = msg.hwnd ? ::GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
    if (root && IsClass(root, L"#32770") && ::IsDialogMessageW(root, &msg))
        return;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
}

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

int RunUntilQuit() {
    MSG msg{};
    BOOL got = FALSE;
    while ((got = ::GetMessageW(&msg, nullptr, 0, 0)) > 0)
        Dispatch(msg);
    return got == 0 ? static_cast<int>(msg.wParam) : 1;
}

void EnableOwner(Hwnd owner, bool enable) {
    if (owner)
        ::EnableWindow(owner, enable);
}
} // namespace w32
