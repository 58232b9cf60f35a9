// The application object, its title and strings, and the start-up of the socket library: the
// same on every backend.
#include "app/framework/Afx.h"
#include "app/framework/Internal.h"
#include "app/platform/Socket.h"
#include "res/Resources.h"

#include <map>

namespace {

CWinApp* g_pApp = nullptr;

// The application's title in the string table, for a nameless application object.
constexpr UINT kAppTitleString = 0xE000;

} // namespace

CWinApp::CWinApp(const char* lpszAppName) : m_strAppName(lpszAppName ? lpszAppName : "") {
    g_pApp = this;
}

CWinApp::~CWinApp() {
    if (g_pApp == this)
        g_pApp = nullptr;
}

bool CWinApp::InitInstance() {
    return true;
}
int CWinApp::ExitInstance() {
    return 0;
}

HICON CWinApp::LoadIcon(UINT nIDResource) const {
    static std::map<UINT, IconResource> icons;
    if (res::IconImagePaths(static_cast<int>(nIDResource)).empty())
        return nullptr;
    auto [it, inserted] = icons.try_emplace(nIDResource, IconResource{nIDResource});
    return &it->second;
}

CWinApp* AfxGetApp() {
    return g_pApp;
}

const char* AfxGetAppName() {
    if (g_pApp && !g_pApp->m_strAppName.empty())
        return g_pApp->m_strAppName.c_str();
    const char* title = res::FindString(kAppTitleString);
    return title ? title : "";
}

std::string AfxLoadString(UINT nID) {
    const char* text = res::FindString(static_cast<int>(nID));
    return text ? text : "";
}

bool AfxSocketInit() {
    return sock::WSAStartup() == 0;
}

int afx::RunApplication(const std::function<int()>& serve) {
    CWinApp* pApp = AfxGetApp();
    if (!pApp)
        return 1;
    int result = 0;
    if (pApp->InitInstance())
        result = serve();
    const int exitCode = pApp->ExitInstance();
    return result ? result : exitCode;
}
