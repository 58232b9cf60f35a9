// The Windows backend's test seams: the message loop run until a condition holds, and what a user
// does and sees, as the system's messages to the real controls.
#include "app/framework/TestHooks.h"
#include "app/framework/win32/Native.h"

bool PumpEventsUntil(const std::function<bool()>& done, int timeoutMs) {
    w32::InitGui();
    return w32::RunLoop(done, timeoutMs);
}

void EnsureGuiForTest() {
    w32::InitGui();
}

void ClickForTest(const CWnd& button) {
    if (w32::IsEnabled(button.GetSafeHwnd()))
        w32::ClickButton(button.GetSafeHwnd());
}

void ChooseForTest(const CWnd& list, int index) {
    HWND combo = list.GetSafeHwnd();
    if (combo)
        w32::ChooseListItem(w32::ParentOf(combo), combo, index);
}

std::string ShownTextForTest(const CWnd& wnd) {
    HWND h = wnd.GetSafeHwnd();
    return w32::IsPane(h) ? w32::PaneShownUtf8(h) : w32::GetText(h);
}

int TextWidthForTest(const CWnd& wnd, const std::string& text) {
    return w32::TextWidth(wnd.GetSafeHwnd(), text);
}

int TextRoomForTest(const CWnd& wnd) {
    return w32::ClientWidth(wnd.GetSafeHwnd());
}

bool IsShownForTest(const CWnd& wnd) {
    return w32::IsVisible(wnd.GetSafeHwnd());
}

void SystemCommandForTest(CDialog& dlg, UINT id) {
    w32::SendSysCommand(dlg.GetSafeHwnd(), id);
}

void CloseForTest(CDialog& dlg) {
    w32::CloseWindow(dlg.GetSafeHwnd());
}
