// The Qt backend's dialog (CDialog::Impl): its window and what it keeps of it, behind the hooks
// of the shared core. Template.cpp builds the window, TimersAndWatches.cpp runs its timers and
// watches, Dialog.cpp does the rest. Internal to the backend.
#pragma once

#include "app/framework/DialogCore.h"
#include "app/framework/qt/Widgets.h"

#include <QPointer>

#include <map>

class QTimer;

struct CDialog::Impl : CDialog::Core {
    explicit Impl(CDialog* o) : owner(o) {}
    ~Impl() override;

    HWND Window() const override;
    HWND MakeWindow(const res::DialogTemplate& tpl, HWND ownerWindow) override;
    void BuildControls(const res::DialogTemplate& tpl) override;
    void FillSystemMenu(CMenu& menu) override;
    void Centre() override;
    void Initialised(bool focusFirst) override;
    void RunModal(std::function<void()> first) override;
    void Show() override;
    void Finish(int result) override;
    void Minimise() override;
    void SetIcon(const IconResource& icon, bool big) override;
    void StopTimers() override;
    void ForgetTimers() override;
    bool WatchSocket(UINT_PTR id, std::intptr_t socket, bool writable) override;
    bool WatchEvent(UINT_PTR id, void* event) override;
    void DestroyWindow() override;

    struct SocketWatch;
    struct EventWatch;

    CDialog* owner;
    QPointer<afx::DialogWidget> widget;
    std::map<UINT_PTR, QTimer*> timers; // children of the widget
};

namespace afx {

// Installs, once, the keys that every dialog handles before its controls see them.
void InstallDialogKeys();

} // namespace afx
