// The Windows backend's calls into the system, behind names of our own: the framework's files
// include Afx.h, whose names clash with <windows.h>, so only the Native*.cpp files and Pane.cpp
// include the latter (through NativeInternal.h) and everything crosses over through this header.
// Texts are UTF-8 (the panes' bytes are code page 936); windows are the framework's opaque
// handles, which are the system's own here.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct HWND__;
class CString;

namespace w32 {

using Hwnd = HWND__*;

// What a dialog's window tells the dialog object.
class DialogHost {
public:
    virtual void HostCommand(int id) = 0;         // a button click, Enter, Esc
    virtual void HostSelChange(int id) = 0;       // the user chose an item of a list
    virtual void HostSysCommand(unsigned id) = 0; // an item of the system menu, the close box
    virtual void HostTimer(std::uintptr_t id) = 0;
    virtual bool HostOwnsSysCommand(unsigned id) const = 0;
    virtual void HostOneShot(std::uintptr_t id, std::uint32_t serial) = 0;
    virtual void HostEvent(std::uintptr_t id, std::uint32_t serial) = 0;
    virtual void HostSocket(std::intptr_t socket, bool readable, bool writable) = 0;

protected:
    ~DialogHost() = default;
};

// Start-up: the common controls (the IPv4 address control among them), the pane's window class,
// the window that runs posted calls, the timer resolution. Safe to call more than once.
bool InitGui();
bool RegisterPaneClass();
// UTF-16 of a UTF-8 text, for templates.
std::vector<std::uint16_t> Utf16(const std::string& utf8);

// Dialogs from an in-memory extended template; the window stays hidden until Show.
Hwnd CreateDialogFromTemplate(const std::vector<std::uint8_t>& tpl, Hwnd owner, DialogHost* host);
void DestroyDialog(Hwnd dlg);
void ShowDialog(Hwnd dlg, bool show);
void CentreOn(Hwnd dlg, Hwnd owner);
bool IsVisible(Hwnd wnd);
void Minimise(Hwnd dlg);
// The dialog's controls in template order.
std::vector<Hwnd> Children(Hwnd dlg);
// Sets the default push button (Enter) of a dialog.
void SetDefaultButton(Hwnd dlg, int id);
// Appends an item (a separator when text is null) to the window's system menu.
void AppendSystemMenu(Hwnd dlg, unsigned id, const char* text, bool checked = false);
void CheckSystemMenuItem(Hwnd dlg, unsigned id, bool checked);
// Opens the system menu at a point of the screen (the window's top-left corner when none).
void TrackSystemMenu(Hwnd dlg, int x, int y, bool atCorner);
void SetIcon(Hwnd dlg, int resourceId, bool big);

// Any window.
void SetText(Hwnd wnd, const std::string& utf8);
std::string GetText(Hwnd wnd);
void Enable(Hwnd wnd, bool enable);
bool IsEnabled(Hwnd wnd);
void Focus(Hwnd wnd);
Hwnd FocusedWindow();
bool IsIconic(Hwnd wnd);
bool IsPane(Hwnd wnd);
Hwnd ParentOf(Hwnd wnd);
std::string ClassName(Hwnd wnd);
void SetToolTip(Hwnd dlg, Hwnd control, const std::string& utf8);
std::string ToolTip(Hwnd control);
void SetErrorColour(Hwnd control, bool error);
bool HasErrorColour(Hwnd control);

// Buttons, lists, the address control.
int GetCheck(Hwnd button);
void SetCheck(Hwnd button, bool checked);
int ListCurSel(Hwnd combo);
int ListSetCurSel(Hwnd combo, int index); // outside the list: clears selection and field
int ListCount(Hwnd combo);
int ListAdd(Hwnd combo, const std::string& utf8);
std::string ListText(Hwnd combo, int index);
void ListReset(Hwnd combo);
int IpGet(Hwnd ip, std::uint32_t& address); // fields that are not blank
void IpSet(Hwnd ip, std::uint32_t address);
void IpClear(Hwnd ip);
bool IpBlank(Hwnd ip);

// Panes (Pane.cpp): the member the pane shows, or any other bytes; display lines.
void PaneSetText(Hwnd pane, const CString& text);
void PaneSetBytes(Hwnd pane, const std::string& bytes);
std::string PaneBytes(Hwnd pane);
std::string PaneShownUtf8(Hwnd pane); // what the pane shows, lines joined by LF
int PaneLineCount(Hwnd pane);
int PaneFirstVisibleLine(Hwnd pane);
void PaneScroll(Hwnd pane, int lines);
std::string PaneSelectionUtf8(Hwnd pane);
void PaneSelectAll(Hwnd pane);
bool PaneCopy(Hwnd pane);

// Message boxes.
int ShowMessageBox(Hwnd owner, const std::string& text, const std::string& caption, unsigned type);

// Timers and watches of a dialog's window. Everything arrives as a message to the window, so
// that they keep coming while a message box or a menu runs a loop of its own. Periodic timers
// are the system's (at least 10 ms); a one-shot timer is a multimedia timer (1 ms resolution)
// whose thread posts to the window; a socket's readiness comes from WSAAsyncSelect; a kernel
// event from a thread of its own that posts to the window once per call the window asks for.
void StartTimer(Hwnd dlg, std::uintptr_t id, unsigned ms);
void StopTimer(Hwnd dlg, std::uintptr_t id);
unsigned StartOneShot(Hwnd dlg, std::uintptr_t id, std::uint32_t serial, unsigned ms);
// The event watch's message, ms milliseconds from now (a multimedia timer as above).
unsigned StartDelayedEvent(Hwnd dlg, std::uintptr_t id, std::uint32_t serial, unsigned ms);
bool IsSignalled(void* event);
void StopOneShot(unsigned timer);
void* RegisterEventWait(Hwnd dlg, void* event, std::uintptr_t id, std::uint32_t serial);
// After a call: the next set of the event makes the next call, with this serial.
void ArmEventWait(void* wait, std::uint32_t serial);
// Returns once the wait's call, if it ran, is over.
void UnregisterEventWait(void* wait);
// The socket's notices the window wants: none, readable (and closed), writable, or both.
void SelectSocket(Hwnd dlg, std::intptr_t socket, bool readable, bool writable);
bool SocketReady(std::intptr_t socket, bool writable);
// A call run by the window's procedure at the next turn of whatever loop serves it.
void PostCall(Hwnd dlg, std::function<void()> call);

// Message loops: until done() holds (a timeout of -1 waits for ever; returns done()), and the
// loop of a modal window, whose owner is disabled meanwhile.
bool RunLoop(const std::function<bool()>& done, int timeoutMs);
// The program's loop: until the quit message, whose exit code it returns (1 when the queue fails).
int RunUntilQuit();
void EnableOwner(Hwnd owner, bool enable);

// Test seams (NativeTestHooks.cpp, in varnel_framework_seams): what a user's click or choice
// sends.
void ClickButton(Hwnd button);
void ChooseListItem(Hwnd dlg, Hwnd combo, int index);
void SendSysCommand(Hwnd dlg, unsigned id);
void SendKey(Hwnd wnd, int virtualKey);
void CloseWindow(Hwnd dlg);
// The pixels a text (UTF-8) takes in the window's font, and the width of its client area.
int TextWidth(Hwnd wnd, const std::string& text);
int ClientWidth(Hwnd wnd);

} // namespace w32
