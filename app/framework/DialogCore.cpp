// The dialog's life, the same on every backend: built from its template, initialised, shown
// modal or not, ended and destroyed. The backend does what touches its platform (DialogCore.h).
#include "app/framework/DialogCore.h"

#include "app/framework/Hooks.h"
#include "app/framework/Internal.h"
#include "app/framework/TemplateItems.h"

std::function<void(CDialog&)> afx::g_modalHook;

void CDialog::Core::Release() {
    for (CWnd* control : bound)
        control->Attach(nullptr, 0);
    bound.clear();
    items.clear();
    map = CMessageMap();
    defId = 0;
}

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd)
    : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd), m_pCore(std::make_unique<Core>(this)) {}

// The core destroys the window that is left.
CDialog::~CDialog() {
    EndWatches();
}

CDialog::Core& CDialog::GetCore() const {
    return *m_pCore;
}

CDialog::Impl& CDialog::GetImpl() const {
    return *m_pCore->impl;
}

bool CDialog::IsBuilt() const {
    return m_pCore->Window() != nullptr;
}

void CDialog::DoDataExchange(CDataExchange*) {}
void CDialog::BuildMessageMap(CMessageMap&) {}

bool CDialog::Build() {
    Core& core = GetCore();
    if (core.Window())
        return true;
    const res::DialogTemplate* tpl = res::FindDialog(static_cast<int>(m_nIDTemplate));
    if (!tpl)
        return false;
    CWnd* owner = m_pParentWnd;
    if (!owner && AfxGetApp() && AfxGetApp()->m_pMainWnd && AfxGetApp()->m_pMainWnd != this)
        owner = AfxGetApp()->m_pMainWnd;
    HWND window = core.MakeWindow(*tpl, owner ? owner->GetSafeHwnd() : nullptr);
    if (!window)
        return false;
    core.tpl = tpl;
    Attach(window, 0);
    if (tpl->style & WS_SYSMENU) {
        core.sysMenu = std::make_unique<CMenu>();
        core.sysMenu->SetOwner(window);
        core.FillSystemMenu(*core.sysMenu);
    }
    core.defId = afx::DefaultButtonOf(*tpl);
    core.BuildControls(*tpl);
    BuildMessageMap(core.map);
    return true;
}

void CDialog::RunInitialisation() {
    m_bEnded = false;
    m_nResult = 0;
    Core& core = GetCore();
    // A template at 0, 0 opens centred on its owner, or on the screen.
    if (core.tpl->x == 0 && core.tpl->y == 0)
        core.Centre();
    core.Initialised(OnInitDialog());
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

int CDialog::DoModal() {
    if (!Build())
        return -1;
    RunInitialisation();
    if (!m_bEnded) {
        std::function<void()> first;
        if (auto hook = afx::g_modalHook) {
            first = [this, hook] {
                if (!m_bEnded)
                    hook(*this);
            };
        }
        GetCore().RunModal(std::move(first));
        if (!m_bEnded)
            EndDialog(IDCANCEL);
    }
    DestroyWindow();
    return m_nResult;
}

bool CDialog::Create() {
    if (!Build())
        return false;
    RunInitialisation();
    if (!m_bEnded)
        GetCore().Show();
    return true;
}

void CDialog::EndDialog(int nResult) {
    m_bEnded = true;
    m_nResult = nResult;
    Core& core = GetCore();
    core.StopTimers();
    if (core.Window())
        core.Finish(nResult);
}

void CDialog::DestroyWindow() {
    // Like a destroyed window's, the control objects lose their controls; a later DoModal
    // builds and binds everything afresh.
    Core& core = GetCore();
    core.Release();
    core.ForgetTimers();
    EndWatches();
    core.sysMenu.reset();
    core.DestroyWindow();
    Attach(nullptr, 0);
}

void CDialog::SetIcon(HICON hIcon, bool bBigIcon) {
    if (IsBuilt() && hIcon)
        GetCore().SetIcon(*hIcon, bBigIcon);
}

CMenu* CDialog::GetSystemMenu(bool) {
    Build();
    return GetCore().sysMenu.get();
}

void CDialog::OnSysCommand(UINT nID, LPARAM) {
    switch (nID & 0xFFF0u) {
    case SC_MINIMIZE:
        if (IsBuilt())
            GetCore().Minimise();
        break;
    case SC_CLOSE:
        OnCommand(IDCANCEL);
        break;
    default:
        break;
    }
}

void CDialog::OnTimer(UINT_PTR) {}

int CDialog::MessageBox(const std::string& text, const char* lpszCaption, UINT nType) {
    return afx::ShowMessageBox(GetCore().Window(), text, lpszCaption, nType);
}
