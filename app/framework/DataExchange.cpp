// Binding of control objects to the dialog's controls and the exchange of text members with
// them (the push), the same on every backend; a pane takes its member the backend's way.
#include "app/framework/DialogCore.h"
#include "app/framework/Internal.h"

std::function<void(CDialog&)> afx::g_pushObserver;

bool CDialog::UpdateData(bool bSaveAndValidate) {
    if (!IsBuilt())
        return false;
    CDataExchange dx(this, bSaveAndValidate);
    DoDataExchange(&dx);
    if (!bSaveAndValidate && afx::g_pushObserver)
        afx::g_pushObserver(*this);
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

void DDX_Text(CDataExchange* pDX, int nIDC, CString& value) {
    CWnd* item = pDX->m_pDlgWnd->GetDlgItem(nIDC);
    if (!item)
        return;
    if (pDX->m_bSaveAndValidate)
        value = item->GetWindowText();
    else if (!afx::SetPaneText(item->GetSafeHwnd(), value))
        item->SetWindowText(value.Str());
}

void DDX_Text(CDataExchange* pDX, int nIDC, std::string& value) {
    CWnd* item = pDX->m_pDlgWnd->GetDlgItem(nIDC);
    if (!item)
        return;
    if (pDX->m_bSaveAndValidate)
        value = item->GetWindowText();
    else
        item->SetWindowText(value);
}
