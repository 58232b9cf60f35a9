// The application object, start-up, message boxes and icons on Windows.
#include "app/framework/Afx.h"
#include "app/framework/TestHooks.h"
#include "app/framework/win32/Internal.h"
#include "app/framework/win32/Native.h"
#include "app/platform/Socket.h"
#include "res/Resources.h"

#include <map>
#include <utility>

namespace {

std::function<int(const MessageBoxCall&)> g_answerer;
std::function<void(CDialog&)> g_modalHook;

} // namespace

namespace afx {

int ShowMessageBox(HWND owner, const std::string& text, const char* caption, UINT type) {
    const std::string title = caption ? caption : AfxGetAppName();
    if (g_answerer)
        return g_answerer(MessageBoxCall{text, title, type});
    return w32::ShowMessageBox(owner, text, title, type);
}

std::function<void(CDialog&)> ModalHook() {
    return g_modalHook;
}

} // namespace afx

void SetMessageBoxAnswererForTest(std::function<int(const MessageBoxCall&)> answerer) {
    g_answerer = std::move(answerer);
}

void SetModalHookForTest(std::function<void(CDialog&)> hook) {
    g_modalHook = std::move(hook);
}

bool PumpEventsUntil(const std::function<bool()>& done, int timeoutMs) {
    w32::InitGui();
    return w32::RunLoop(done, timeoutMs);
}

// ---------------------------------------------------------------------------------------------
int AfxMessageBox(const std::string& text, UINT nType) {
    HWND owner = nullptr;
    if (AfxGetApp() && AfxGetApp()->m_pMainWnd)
        owner = AfxGetApp()->m_pMainWnd->GetSafeHwnd();
    return afx::ShowMessageBox(owner, text, nullptr, nType);
}

int AfxMessageBox(UINT nIDPrompt, UINT nType) {
    return AfxMessageBox(AfxLoadString(nIDPrompt), nType);
}

bool AfxSocketInit() {
    return sock::WSAStartup() == 0;
}

int AfxWinMain(int, char**) {
    w32::InitGui();
    CWinApp* pApp = AfxGetApp();
    if (!pApp)
        return 1;
    int result = 0;
    if (pApp->InitInstance())
        w32::RunLoop([] { return false; }, -1);
    const int exitCode = pApp->ExitInstance();
    return result ? result : exitCode;
}

// ---------------------------------------------------------------------------------------------
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

bool IsShownForTest(const CWnd& wnd) {
    return w32::IsVisible(wnd.GetSafeHwnd());
}

void SystemCommandForTest(CDialog& dlg, UINT id) {
    w32::SendSysCommand(dlg.GetSafeHwnd(), id);
}

void CloseForTest(CDialog& dlg) {
    w32::CloseWindow(dlg.GetSafeHwnd());
}
