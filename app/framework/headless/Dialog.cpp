// The headless backend's dialog: its life (shown, run on the loop until it ends, destroyed) and
// its system menu, kept as data; nobody opens it.
#include "app/framework/Internal.h"
#include "app/framework/headless/DialogImpl.h"
#include "app/framework/headless/Headless.h"
#include "app/framework/headless/Loop.h"

#include <utility>

using afx::headless::Loop;

namespace {

std::function<void(CDialog&)> g_startHandler;

} // namespace

void afx::headless::SetStartHandler(std::function<void(CDialog&)> handler) {
    g_startHandler = std::move(handler);
}

CDialog::Core::Core(CDialog* o) : owner(o), impl(std::make_unique<Impl>()) {}

CDialog::Core::~Core() {
    Loop::Instance().ForgetTimers(owner);
}

HWND CDialog::Core::Window() const {
    return afx::headless::HandleOf(impl->window.get());
}

void CDialog::Core::FillSystemMenu(CMenu& menu) {
    menu.AppendMenu(MF_STRING, SC_MINIMIZE, "最小化(&N)");
    menu.AppendMenu(MF_STRING, SC_CLOSE, "关闭(&C)");
}

void CDialog::Core::Centre() {}

void CDialog::Core::Initialised(bool) {}

void CDialog::Core::RunModal(std::function<void()> first) {
    Show();
    if (first)
        first();
    if (g_startHandler && AfxGetApp() && AfxGetApp()->m_pMainWnd == owner && !owner->IsEnded())
        g_startHandler(*owner);
    while (!owner->IsEnded())
        Loop::Instance().RunOnce(Loop::Clock::time_point::max());
}

void CDialog::Core::Show() {
    impl->window->shown = true;
}

void CDialog::Core::Finish(int) {
    impl->window->shown = false;
}

void CDialog::Core::Minimise() {
    impl->window->minimised = true;
}

void CDialog::Core::SetIcon(const IconResource&, bool) {}

void CDialog::Core::DestroyWindow() {
    impl->controls.clear();
    impl->window.reset();
}

void CDialog::ShowSystemMenu() {}

void CDialog::ShowSystemMenu(int, int) {}

void afx::CheckSystemMenuItem(HWND, UINT, bool) {} // no menu without a window

// A pane keeps nothing of its member: without a screen nobody reads it.
bool afx::SetPaneText(HWND wnd, const CString&) {
    const afx::headless::Control* control = afx::headless::ControlOf(wnd);
    return control && control->kind == afx::headless::Control::Kind::Pane;
}
