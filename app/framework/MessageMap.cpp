// The routing of commands and selection changes to the dialog's handlers (its message map), the
// same on every backend.
#include "app/framework/DialogCore.h"

const std::function<void()>* CMessageMap::Clicked(int id) const {
    auto it = m_clicked.find(id);
    return it == m_clicked.end() ? nullptr : &it->second;
}

const std::function<void()>* CMessageMap::SelChange(int id) const {
    auto it = m_selChange.find(id);
    return it == m_selChange.end() ? nullptr : &it->second;
}

void CDialog::OnOK() {
    EndDialog(IDOK);
}
void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

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
