// The headless backend's test seams: the loop run until a condition holds, and what a user does
// and sees, on the controls' data.
#include "app/framework/TestHooks.h"
#include "app/framework/headless/Control.h"
#include "app/framework/headless/Loop.h"

#include <algorithm>
#include <chrono>

using afx::headless::Control;
using afx::headless::ControlOf;
using afx::headless::Loop;

bool PumpEventsUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto deadline = Loop::Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (Loop::Clock::now() >= deadline)
            return done();
        Loop::Instance().RunOnce(
            std::min(deadline, Loop::Clock::now() + std::chrono::milliseconds(10)));
    }
    return true;
}

void EnsureGuiForTest() {}

int TextWidthForTest(const CWnd&, const std::string&) {
    return 0;
}

int TextRoomForTest(const CWnd&) {
    return 0;
}

void ClickForTest(const CWnd& button) {
    Control* c = ControlOf(&button);
    if (!c || !c->enabled || !c->owner)
        return;
    if (c->kind == Control::Kind::CheckBox)
        c->checked = !c->checked;
    if (c->kind == Control::Kind::CheckBox || c->kind == Control::Kind::PushButton)
        c->owner->OnCommand(c->id);
}

void ChooseForTest(const CWnd& list, int index) {
    Control* c = ControlOf(&list);
    if (!c || c->kind != Control::Kind::ComboBox || !c->owner)
        return;
    CComboBox combo;
    combo.Attach(list.GetSafeHwnd(), c->id);
    combo.SetCurSel(index);
    c->owner->OnSelChange(c->id);
}

std::string ShownTextForTest(const CWnd& wnd) {
    return wnd.GetWindowText();
}

bool IsShownForTest(const CWnd& wnd) {
    const Control* c = ControlOf(&wnd);
    if (!c || !c->owner)
        return false;
    const Control* window = ControlOf(c->owner->GetSafeHwnd());
    return window && window->shown;
}

void SystemCommandForTest(CDialog& dlg, UINT id) {
    dlg.OnSysCommand(id, 0);
}

void CloseForTest(CDialog& dlg) {
    dlg.OnCommand(IDCANCEL);
}
