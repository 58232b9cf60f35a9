// What the Windows backend's calls into the system (Native*.cpp, Pane.cpp) share: text
// conversions, the dialog's private messages, and the state that its window procedure and the
// controls' calls both keep. Includes <windows.h>: never include it beside Afx.h.
#pragma once

#include "app/framework/win32/Native.h"

#include <winsock2.h>

#include <windows.h>

#include <string>

namespace w32 {

inline constexpr UINT WM_APP_ONESHOT = WM_APP + 1; // wParam: timer id, lParam: serial
inline constexpr UINT WM_APP_EVENT = WM_APP + 2;   // wParam: watch id, lParam: serial
inline constexpr UINT WM_APP_SOCKET = WM_APP + 3;  // wParam: socket, lParam: WSAAsyncSelect's word
inline constexpr UINT WM_APP_CALL = WM_APP + 4;    // lParam: a heap std::function, run and freed

std::wstring Widen(const std::string& utf8);
std::string Narrow(const wchar_t* text, int length);
std::string Narrow(const std::wstring& text);
bool IsClass(HWND wnd, const wchar_t* name);
HINSTANCE Instance();
// Hands a message to the dialog it belongs to (Tab, Enter, Esc) or else to its window.
void Dispatch(MSG& msg);

// The controls' own colours and tips (NativeControls.cpp), for the dialog's window procedure:
// the brush of a control drawn in the error colour (nullptr: drawn as usual), and the end of a
// dialog's controls.
HBRUSH ErrorColourBrush(HWND control, HDC dc);
void ForgetControls(HWND dlg);

} // namespace w32
