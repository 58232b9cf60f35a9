// The Windows backend's dialog: its life as a real dialog window (shown, run modal, finished,
// destroyed), its system menu, which is the window's own, and the panes' part of the push.
#include "app/framework/Internal.h"
#include "app/framework/win32/DialogImpl.h"

std::unique_ptr<CDialog::Core> CDialog::MakeCore() {
    return std::make_unique<Impl>(this);
}

CDialog::Impl& CDialog::GetImpl() const {
    return static_cast<Impl&>(GetCore());
}

CDialog::Impl::~Impl() {
    w32::DestroyDialog(hwnd);
}

void CDialog::Impl::Centre() {
    w32::CentreOn(hwnd, ownerHwnd);
}

void CDialog::Impl::Initialised(bool focusFirst) {
    // Items added to the system menu during initialisation go into the window's own menu.
    if (sysMenu) {
        const auto& added = sysMenu->Items();
        for (; sysMenuShown < added.size(); ++sysMenuShown) {
            const CMenu::Item& item = added[sysMenuShown];
            w32::AppendSystemMenu(hwnd, static_cast<unsigned>(item.id),
                                  (item.flags & MF_SEPARATOR) ? nullptr : item.text.c_str());
        }
    }
    if (!focusFirst)
        return;
    for (std::size_t i = 0; i < items.size(); ++i) {
        HWND w = items[i]->GetSafeHwnd();
        if ((tpl->items[i].style & WS_TABSTOP) && w32::IsEnabled(w)) {
            w32::Focus(w);
            break;
        }
    }
}

void CDialog::Impl::RunModal(std::function<void()> first) {
    w32::ShowDialog(hwnd, true);
    w32::EnableOwner(ownerHwnd, false);
    if (first)
        w32::PostCall(hwnd, std::move(first));
    w32::RunLoop([this] { return owner->IsEnded(); }, -1);
    w32::EnableOwner(ownerHwnd, true);
}

void CDialog::Impl::Show() {
    w32::ShowDialog(hwnd, true);
}

void CDialog::Impl::Finish(int) {
    // A dialog without a loop of its own is hidden; a modal one is destroyed by its loop.
    w32::ShowDialog(hwnd, false);
}

void CDialog::Impl::Minimise() {
    w32::Minimise(hwnd);
}

void CDialog::Impl::SetIcon(const IconResource& icon, bool big) {
    w32::SetIcon(hwnd, static_cast<int>(icon.id), big);
}

void CDialog::Impl::DestroyWindow() {
    w32::DestroyDialog(hwnd);
    hwnd = nullptr;
}

bool CDialog::Impl::HostOwnsSysCommand(unsigned id) const {
    if (id == SC_CLOSE || id == SC_MINIMIZE)
        return true;
    if (!sysMenu)
        return false;
    for (const CMenu::Item& item : sysMenu->Items())
        if (!(item.flags & MF_SEPARATOR) && (item.id & 0xFFF0u) == id)
            return true;
    return false;
}

void CDialog::ShowSystemMenu() {
    if (GetImpl().hwnd && !m_bEnded)
        w32::TrackSystemMenu(GetImpl().hwnd, 0, 0, true);
}

void CDialog::ShowSystemMenu(int xScreen, int yScreen) {
    if (GetImpl().hwnd && !m_bEnded)
        w32::TrackSystemMenu(GetImpl().hwnd, xScreen, yScreen, false);
}

bool afx::SetPaneText(HWND wnd, const CString& text) {
    if (!w32::IsPane(wnd))
        return false;
    w32::PaneSetText(wnd, text);
    return true;
}
