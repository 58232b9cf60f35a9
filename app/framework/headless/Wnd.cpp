// Operations of windows and control objects on the controls' data.
#include "app/framework/Internal.h"
#include "app/framework/IpAddressText.h"
#include "app/framework/headless/Control.h"
#include "app/framework/headless/Loop.h"

#include <algorithm>
#include <cctype>

using afx::headless::Control;
using afx::headless::ControlOf;

namespace {

// The dialog's timer that tells of a changed tooltip; no dialog uses an id this high.
constexpr std::uintptr_t kTipNewsTimer = ~std::uintptr_t{0};

// The address in an address control's fields, first field in the high byte, blank fields as 0;
// filled counts the fields that are not blank.
DWORD AddressOf(const Control& c, int& filled) {
    DWORD address = 0;
    filled = 0;
    for (int field : c.fields) {
        filled += field >= 0;
        address = (address << 8) | static_cast<DWORD>(std::max(field, 0));
    }
    return address;
}

// A yes-or-no property of the control behind a handle; false without one.
bool Flag(HWND hWnd, bool Control::*flag) {
    const Control* c = ControlOf(hWnd);
    return c && c->*flag;
}

void SetFlag(HWND hWnd, bool Control::*flag, bool value) {
    if (Control* c = ControlOf(hWnd))
        c->*flag = value;
}

} // namespace

void CWnd::EnableWindow(bool bEnable) {
    SetFlag(m_hWnd, &Control::enabled, bEnable);
}

bool CWnd::IsWindowEnabled() const {
    return Flag(m_hWnd, &Control::enabled);
}

void CWnd::SetWindowText(const std::string& text) {
    Control* c = ControlOf(m_hWnd);
    if (!c || c->kind == Control::Kind::Pane)
        return;
    if (c->kind == Control::Kind::Ip)
        c->fields = afx::ParseAddressFields(text);
    else
        c->text = text;
}

std::string CWnd::GetWindowText() const {
    const Control* c = ControlOf(m_hWnd);
    if (!c)
        return {};
    int filled = 0;
    if (c->kind == Control::Kind::Ip)
        return afx::AddressText(AddressOf(*c, filled));
    return c->text;
}

void CWnd::SetToolTipText(const std::string& text) {
    Control* c = ControlOf(m_hWnd);
    if (!c || c->tip == text)
        return;
    c->tip = text;
    // The program reads its controls at every push; a reason that changes between pushes (a
    // device that went away, the end of an outage) is news of its own, told once the handler
    // that changed it has returned (and pushed the text that goes with it, if any). A timer of
    // the dialog's own, so that it goes with the dialog.
    CDialog* dlg = c->owner;
    if (afx::g_pushObserver && dlg && dlg->GetSafeHwnd())
        afx::headless::Loop::Instance().SetTimer(dlg, kTipNewsTimer, std::chrono::milliseconds(0),
                                                 true, [dlg] {
                                                     if (afx::g_pushObserver)
                                                         afx::g_pushObserver(*dlg);
                                                 });
}

std::string CWnd::GetToolTipText() const {
    const Control* c = ControlOf(m_hWnd);
    return c ? c->tip : std::string();
}

void CWnd::SetErrorColour(bool bError) {
    SetFlag(m_hWnd, &Control::error, bError);
}

bool CWnd::HasErrorColour() const {
    return Flag(m_hWnd, &Control::error);
}

void CWnd::SetFocus() {}

bool CWnd::IsIconic() const {
    return Flag(m_hWnd, &Control::minimised);
}

// ---------------------------------------------------------------------------------------------
int CButton::GetCheck() const {
    return Flag(m_hWnd, &Control::checked) ? BST_CHECKED : BST_UNCHECKED;
}

void CButton::SetCheck(int nCheck) {
    SetFlag(m_hWnd, &Control::checked, nCheck != BST_UNCHECKED);
}

// ---------------------------------------------------------------------------------------------
// A pane shows nothing, so it has one line and is always scrolled to it.
int CEdit::GetLineCount() const {
    return 1;
}

int CEdit::GetFirstVisibleLine() const {
    return 0;
}

void CEdit::LineScroll(int, int) {}

// ---------------------------------------------------------------------------------------------
int CComboBox::GetCurSel() const {
    const Control* c = ControlOf(m_hWnd);
    return c ? c->selection : CB_ERR;
}

int CComboBox::SetCurSel(int nSelect) {
    Control* c = ControlOf(m_hWnd);
    if (!c)
        return CB_ERR;
    if (nSelect < 0 || nSelect >= static_cast<int>(c->items.size())) {
        c->selection = -1;
        c->text.clear();
        return CB_ERR;
    }
    c->selection = nSelect;
    c->text = c->items[static_cast<std::size_t>(nSelect)];
    return nSelect;
}

int CComboBox::GetCount() const {
    const Control* c = ControlOf(m_hWnd);
    return c ? static_cast<int>(c->items.size()) : 0;
}

namespace {

// Order of a sorted list: without regard to case.
bool NotAfter(const std::string& a, const std::string& b) {
    return !std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end(),
                                         [](char x, char y) {
                                             return std::tolower(static_cast<unsigned char>(x)) <
                                                    std::tolower(static_cast<unsigned char>(y));
                                         });
}

} // namespace

// Adding items never changes what the field shows.
int CComboBox::AddString(const std::string& text) {
    Control* c = ControlOf(m_hWnd);
    if (!c)
        return CB_ERR;
    std::size_t at = c->items.size();
    if (c->sorted) {
        at = 0;
        while (at < c->items.size() && NotAfter(c->items[at], text))
            ++at;
    }
    c->items.insert(c->items.begin() + static_cast<std::ptrdiff_t>(at), text);
    if (c->selection >= static_cast<int>(at))
        ++c->selection;
    return static_cast<int>(at);
}

void CComboBox::GetLBText(int nIndex, std::string& text) const {
    const Control* c = ControlOf(m_hWnd);
    text = c && nIndex >= 0 && nIndex < static_cast<int>(c->items.size())
               ? c->items[static_cast<std::size_t>(nIndex)]
               : "";
}

void CComboBox::ResetContent() {
    if (Control* c = ControlOf(m_hWnd)) {
        c->items.clear();
        c->selection = -1;
        c->text.clear();
    }
}

// ---------------------------------------------------------------------------------------------
int CIPAddressCtrl::GetAddress(DWORD& dwAddress) const {
    const Control* c = ControlOf(m_hWnd);
    int filled = 0;
    dwAddress = c ? AddressOf(*c, filled) : 0;
    return filled;
}

void CIPAddressCtrl::SetAddress(DWORD dwAddress) {
    if (Control* c = ControlOf(m_hWnd))
        for (std::size_t i = 0; i < c->fields.size(); ++i)
            c->fields[i] = static_cast<int>((dwAddress >> (24 - 8 * i)) & 0xFFu);
}

void CIPAddressCtrl::ClearAddress() {
    if (Control* c = ControlOf(m_hWnd))
        c->fields = {-1, -1, -1, -1};
}

bool CIPAddressCtrl::IsBlank() const {
    const Control* c = ControlOf(m_hWnd);
    return !c || std::all_of(c->fields.begin(), c->fields.end(), [](int f) { return f < 0; });
}
