// What windows, controls and menus keep the same way on every backend: the handle a control
// object is attached to, an address split into its fields, menu items as data.
#include "app/framework/Afx.h"
#include "app/framework/Internal.h"

void CWnd::Attach(HWND hWnd, int id) {
    m_hWnd = hWnd;
    m_nID = id;
}

int CIPAddressCtrl::GetAddress(BYTE& f0, BYTE& f1, BYTE& f2, BYTE& f3) const {
    DWORD a = 0;
    const int n = GetAddress(a);
    f0 = static_cast<BYTE>(a >> 24);
    f1 = static_cast<BYTE>(a >> 16);
    f2 = static_cast<BYTE>(a >> 8);
    f3 = static_cast<BYTE>(a);
    return n;
}

UINT CMenu::CheckMenuItem(UINT nIDCheckItem, UINT nCheck) {
    for (Item& item : m_items) {
        if (item.id != nIDCheckItem || (item.flags & MF_SEPARATOR))
            continue;
        const UINT nWas = item.flags & MF_CHECKED;
        item.flags = (item.flags & ~MF_CHECKED) | (nCheck & MF_CHECKED);
        if (m_hOwner != nullptr)
            afx::CheckSystemMenuItem(m_hOwner, nIDCheckItem, (nCheck & MF_CHECKED) != 0);
        return nWas;
    }
    return 0xFFFFFFFFu;
}

bool CMenu::AppendMenu(UINT nFlags, UINT_PTR nIDNewItem, const char* lpszNewItem) {
    if (!(nFlags & MF_SEPARATOR) && (!lpszNewItem || !*lpszNewItem))
        return false;
    m_items.push_back({nFlags, nIDNewItem, lpszNewItem ? lpszNewItem : ""});
    return true;
}
