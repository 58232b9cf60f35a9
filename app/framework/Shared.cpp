// The parts of the framework that are the same for every backend: menus as data and the routing
// table of the message map.
#include "app/framework/Afx.h"

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
