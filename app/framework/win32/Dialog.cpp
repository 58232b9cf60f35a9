// The Windows backend's dialog: its life as a real dialog window (shown, run modal, finished,
// destroyed), its system menu, which is the window's own, and the panes' part of the push.
#include "app/framework/Internal.h"
#include "app/framework/win32/DialogImpl.h"

CDialog::Core::Core(CDialog* o) : owner(o), impl(std::make_unique<Impl>(*this)) {}

CDialog::Core::~Core() {
    w32::DestroyDialog(impl->hwnd);
}

HWND CDialog::Core::Window() const {
    return impl->hwnd;
}

void afx::CheckSystemMenuItem(HWND window, UINT id, bool checked) {
    w32::CheckSystemMenuItem(window, id, checked);
}

void CDialog::Core::FillSystemMenu(CMenu&) {} // the window has a system menu of its own

void CDialog::Core::Centre() {
    w32::CentreOn(impl->hwnd, impl->ownerHwnd);
}

void CDialog::Core::Initialised(bool focusFirst) {
    // Items added to the system menu during initialisation go into the window's own menu.
    if (sysMenu) {
        const auto& added = sysMenu->Items();
        for (; impl->sysMenuShown < added.size(); ++impl->sysMenuShown) {
            const CMenu::Item& item = added[impl->sysMenuShown];
            w32::AppendSystemMenu(impl->hwnd, static_cast<unsigned>(item.id),
                                  (item.flags & MF_SEPARATOR) ? nullptr : item.text.c_str(),
                                  (item.flags & MF_CHECKED) != 0);
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

void CDialog::Core::RunModal(std::function<void()> first) {
    w32::ShowDialog(impl->hwnd, true);
    w32::EnableOwner(impl->ownerHwnd, false);
    if (first)
        w32::PostCall(impl->hwnd, std::move(first));
    w32::RunLoop([this] { return owner->IsEnded(); }, -1);
    w32::EnableOwner(impl->ownerHwnd, true);
}

void CDialog::Core::Show() {
    w32::ShowDialog(impl->hwnd, true);
}

void CDialog::Core::Finish(int) {
    // A dialog without a loop of its own is hidden; a modal one is destroyed by its loop.
    w32::ShowDialog(impl->hwnd, false);
}

void CDialog::Core::Minimise() {
    w32::Minimise(impl->hwnd);
}

void CDialog::Core::SetIcon(const IconResource& icon, bool big) {
    w32::SetIcon(impl->hwnd, static_cast<int>(icon.id), big);
}

void CDialog::Core::DestroyWindow() {
    w32::DestroyDialog(impl->hwnd);
    impl->hwnd = nullptr;
}

bool CDialog::Impl::HostOwnsSysCommand(unsigned id) const {
    if (id == SC_CLOSE || id == SC_MINIMIZE)
        return true;
    if (!core.sysMenu)
        return false;
    for (const CMenu::Item& item : core.sysMenu->Items())
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
