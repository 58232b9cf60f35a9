// The parts of the framework that are the same for every backend: the application object, menus
// as data, the routing table of the message map, and the dialog's routing, data exchange and
// controls.
#include "app/framework/Afx.h"
#include "app/framework/DialogCore.h"
#include "app/framework/Hooks.h"
#include "app/framework/Internal.h"
#include "app/platform/Socket.h"
#include "res/Resources.h"

#include <map>

std::function<void(CDialog&)> afx::g_modalHook;

namespace {

CWinApp* g_pApp = nullptr;

// The application's title in the string table, for a nameless application object.
constexpr UINT kAppTitleString = 0xE000;

} // namespace

bool CMenu::AppendMenu(UINT nFlags, UINT_PTR nIDNewItem, const char* lpszNewItem) {
    if (!(nFlags & MF_SEPARATOR) && (!lpszNewItem || !*lpszNewItem))
        return false;
    m_items.push_back({nFlags, nIDNewItem, lpszNewItem ? lpszNewItem : ""});
    return true;
}

const std::function<void()>* CMessageMap::Clicked(int id) const {
    auto it = m_clicked.find(id);
    return it == m_clicked.end() ? nullptr : &it->second;
}

const std::function<void()>* CMessageMap::SelChange(int id) const {
    auto it = m_selChange.find(id);
    return it == m_selChange.end() ? nullptr : &it->second;
}

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

EventListener afx::g_eventListener = nullptr;

void AfxSetEventListener(EventListener listener) {
    afx::g_eventListener = listener;
}

// ---------------------------------------------------------------------------------------------
// The dialog's routing, data exchange and controls; the backends keep them in CDialog::Core.

void CDialog::Core::Release() {
    for (CWnd* control : bound)
        control->Attach(nullptr, 0);
    bound.clear();
    items.clear();
    map = CMessageMap();
    defId = 0;
}

bool CDialog::OnInitDialog() {
    for (const res::ListInit& init : GetCore().tpl->init) {
        CComboBox list;
        if (CWnd* item = GetDlgItem(init.id))
            list.Attach(item->GetSafeHwnd(), init.id);
        for (const char* text : init.items)
            list.AddString(text);
    }
    UpdateData(false);
    return true;
}

void CDialog::OnOK() {
    EndDialog(IDOK);
}
void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

void CDialog::OnTimer(UINT_PTR) {}

void CDialog::OnCommand(int nID) {
    if (m_bEnded || !IsBuilt())
        return;
    if (const auto* handler = GetCore().map.Clicked(nID)) {
        (*handler)();
    } else if (nID == IDOK) {
        OnOK();
    } else if (nID == IDCANCEL) {
        OnCancel();
    }
}

void CDialog::OnSelChange(int nID) {
    if (const auto* handler = GetCore().map.SelChange(nID))
        (*handler)();
}

int CDialog::GetDefID() const {
    return GetCore().defId;
}

bool CDialog::UpdateData(bool bSaveAndValidate) {
    if (!IsBuilt())
        return false;
    CDataExchange dx(this, bSaveAndValidate);
    DoDataExchange(&dx);
    return true;
}

CWnd* CDialog::GetDlgItem(int nID) const {
    for (const auto& item : GetCore().items)
        if (item->GetDlgCtrlID() == nID)
            return item.get();
    return nullptr;
}

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl) {
    if (rControl.GetSafeHwnd())
        return;
    if (CWnd* item = pDX->m_pDlgWnd->GetDlgItem(nIDC)) {
        rControl.Attach(item->GetSafeHwnd(), nIDC);
        pDX->m_pDlgWnd->GetCore().bound.push_back(&rControl);
    }
}
