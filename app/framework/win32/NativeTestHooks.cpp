// The Windows backend's test seams on the system (see Native.h): what a user's click, choice,
// key or close sends. Part of varnel_framework_seams, never of the program.
#include "app/framework/win32/NativeInternal.h"

namespace w32 {

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

int TextWidth(Hwnd wnd, const std::string& text) {
    HDC dc = ::GetDC(wnd);
    if (!dc)
        return 0;
    HGDIOBJ old =
        ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(wnd, WM_GETFONT, 0, 0)));
    const std::wstring wide = Widen(text);
    SIZE size{};
    ::GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &size);
    ::SelectObject(dc, old);
    ::ReleaseDC(wnd, dc);
    return size.cx;
}

int ClientWidth(Hwnd wnd) {
    RECT rect{};
    return ::GetClientRect(wnd, &rect) ? rect.right - rect.left : 0;
}

} // namespace w32
