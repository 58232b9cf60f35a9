// Message boxes: every one goes through afx::ShowMessageBox, so that tests can answer it.
#include "app/framework/Afx.h"
#include "app/framework/Hooks.h"
#include "app/framework/Internal.h"

#include <functional>
#include <string>

namespace afx {

std::function<int(const MessageBoxCall&)> g_messageBoxAnswerer;

int ShowMessageBox(HWND owner, const std::string& text, const char* caption, UINT type) {
    const std::string title = caption ? caption : AfxGetAppName();
    if (g_messageBoxAnswerer)
        return g_messageBoxAnswerer(MessageBoxCall{text, title, type});
    return ShowNativeMessageBox(owner, text, title, type);
}

} // namespace afx

int AfxMessageBox(const std::string& text, UINT nType) {
    HWND owner = nullptr;
    if (AfxGetApp() && AfxGetApp()->m_pMainWnd)
        owner = AfxGetApp()->m_pMainWnd->GetSafeHwnd();
    return afx::ShowMessageBox(owner, text, nullptr, nType);
}

int AfxMessageBox(UINT nIDPrompt, UINT nType) {
    return AfxMessageBox(AfxLoadString(nIDPrompt), nType);
}
