// Operations of windows and control objects on Windows' own controls.
#include "app/framework/Afx.h"
#include "app/framework/win32/Native.h"

void CWnd::EnableWindow(bool bEnable) {
    w32::Enable(m_hWnd, bEnable);
}

bool CWnd::IsWindowEnabled() const {
    return w32::IsEnabled(m_hWnd);
}

void CWnd::SetWindowText(const std::string& text) {
    w32::SetText(m_hWnd, text);
}

std::string CWnd::GetWindowText() const {
    return w32::GetText(m_hWnd);
}

void CWnd::SetToolTipText(const std::string& text) {
    if (m_hWnd)
        w32::SetToolTip(w32::ParentOf(m_hWnd), m_hWnd, text);
}

std::string CWnd::GetToolTipText() const {
    return m_hWnd ? w32::ToolTip(m_hWnd) : std::string();
}

void CWnd::SetErrorColour(bool bError) {
    w32::SetErrorColour(m_hWnd, bError);
}

bool CWnd::HasErrorColour() const {
    return m_hWnd && w32::HasErrorColour(m_hWnd);
}

void CWnd::SetFocus() {
    w32::Focus(m_hWnd);
}

bool CWnd::IsIconic() const {
    return w32::IsIconic(m_hWnd);
}

// ---------------------------------------------------------------------------------------------
int CButton::GetCheck() const {
    return w32::GetCheck(m_hWnd) ? BST_CHECKED : BST_UNCHECKED;
}

void CButton::SetCheck(int nCheck) {
    w32::SetCheck(m_hWnd, nCheck != BST_UNCHECKED);
}

// ---------------------------------------------------------------------------------------------
int CEdit::GetLineCount() const {
    return w32::IsPane(m_hWnd) ? w32::PaneLineCount(m_hWnd) : 1;
}

int CEdit::GetFirstVisibleLine() const {
    return w32::IsPane(m_hWnd) ? w32::PaneFirstVisibleLine(m_hWnd) : 0;
}

void CEdit::LineScroll(int nLines, int /*nChars*/) {
    if (w32::IsPane(m_hWnd))
        w32::PaneScroll(m_hWnd, nLines);
}

// ---------------------------------------------------------------------------------------------
int CComboBox::GetCurSel() const {
    return m_hWnd ? w32::ListCurSel(m_hWnd) : CB_ERR;
}

int CComboBox::SetCurSel(int nSelect) {
    return m_hWnd ? w32::ListSetCurSel(m_hWnd, nSelect) : CB_ERR;
}

int CComboBox::GetCount() const {
    return w32::ListCount(m_hWnd);
}

int CComboBox::AddString(const std::string& text) {
    return m_hWnd ? w32::ListAdd(m_hWnd, text) : CB_ERR;
}

void CComboBox::GetLBText(int nIndex, std::string& text) const {
    text = w32::ListText(m_hWnd, nIndex);
}

void CComboBox::ResetContent() {
    w32::ListReset(m_hWnd);
}

// ---------------------------------------------------------------------------------------------
int CIPAddressCtrl::GetAddress(DWORD& dwAddress) const {
    std::uint32_t a = 0;
    const int n = w32::IpGet(m_hWnd, a);
    dwAddress = a;
    return n;
}

void CIPAddressCtrl::SetAddress(DWORD dwAddress) {
    w32::IpSet(m_hWnd, dwAddress);
}

void CIPAddressCtrl::ClearAddress() {
    w32::IpClear(m_hWnd);
}

bool CIPAddressCtrl::IsBlank() const {
    return w32::IpBlank(m_hWnd);
}
