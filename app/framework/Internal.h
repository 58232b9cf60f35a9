// What the framework's shared code and its backend (qt/ or win32/) hand each other. Internal to
// the framework.
#pragma once

#include "app/framework/Afx.h"

#include <functional>
#include <string>

namespace afx {

// The one function through which every message box goes: a test's answerer while one is set,
// else the backend's box. A null caption shows the application's title.
int ShowMessageBox(HWND owner, const std::string& text, const char* caption, UINT type);
// The backend's message box (owned by owner when not null); returns the button chosen.
int ShowNativeMessageBox(HWND owner, const std::string& text, const std::string& title, UINT type);
// Gives a pane (a multi-line edit) the member it shows; false when the window is no pane.
bool SetPaneText(HWND wnd, const CString& text);
// The backend's own system menu of the window, where it has one, shows the item checked or not.
void CheckSystemMenuItem(HWND window, UINT id, bool checked);
// The listener the application handed in (AfxSetEventListener), or nullptr.
extern EventListener g_eventListener;
// The program's start and end on every backend: the application's InitInstance; when it asks to
// go on, serve() (the backend's loop, returning its exit code); then ExitInstance. The result is
// the loop's exit code where it gave one, else ExitInstance's; 1 without an application object.
int RunApplication(const std::function<int()>& serve);
// Runs after every push (UpdateData(false)) while set, and (headless) after a tooltip changed; a
// backend's program may set it.
extern std::function<void(CDialog&)> g_pushObserver;

} // namespace afx
