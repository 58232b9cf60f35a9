// The part of a dialog that every backend keeps the same way, and the hooks through which the
// shared code (DialogCore.cpp, MessageMap.cpp, DataExchange.cpp, Watches.cpp) asks the backend
// for what touches its platform. Each backend derives its CDialog::Impl from Core.
#pragma once

#include "app/framework/Afx.h"
#include "res/Resources.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

struct CDialog::Core {
    // A watch of the window (WatchSocket, WatchEvent); destroying it ends the watch.
    struct Watch {
        virtual ~Watch() = default;
    };

    virtual ~Core() = default;

    // Detaches the control objects from their controls and forgets the controls and the map:
    // what a destroyed window leaves behind.
    void Release();

    // The backend's part. The window: nullptr before it is built and once it is destroyed.
    virtual HWND Window() const = 0;
    // Makes the window of the template, hidden, owned by owner (nullptr: none); nullptr when it
    // cannot. BuildControls then fills items (template order) and defId.
    virtual HWND MakeWindow(const res::DialogTemplate& tpl, HWND owner) = 0;
    virtual void BuildControls(const res::DialogTemplate& tpl) = 0;
    // The items the system menu starts with, where the backend's window has none of its own.
    virtual void FillSystemMenu(CMenu& menu) = 0;
    // Centres the window on its owner, or on the screen.
    virtual void Centre() = 0;
    // After OnInitDialog: the system menu's new items into the window's own menu, where it has
    // one; then the focus on the first control that takes it, when focusFirst.
    virtual void Initialised(bool focusFirst) = 0;
    // Shows the window and runs its modal loop until the dialog has ended; first, when set, runs
    // from inside the loop once the window is shown.
    virtual void RunModal(std::function<void()> first) = 0;
    virtual void Show() = 0;
    // Ends the modal loop, or hides a window that has none.
    virtual void Finish(int result) = 0;
    virtual void Minimise() = 0;
    virtual void SetIcon(const IconResource& icon, bool big) = 0;
    // Timers: EndDialog stops them all; DestroyWindow forgets them.
    virtual void StopTimers() = 0;
    virtual void ForgetTimers() = 0;
    // A new watch of an id that is free, on a built window; false when it cannot.
    virtual bool WatchSocket(UINT_PTR id, std::intptr_t socket, bool writable) = 0;
    virtual bool WatchEvent(UINT_PTR id, void* event) = 0;
    // Destroys the window; its controls go with it.
    virtual void DestroyWindow() = 0;

    const res::DialogTemplate* tpl = nullptr;
    std::vector<std::unique_ptr<CWnd>> items; // generic handles, template order
    std::vector<CWnd*> bound;                 // control objects attached by DDX_Control
    CMessageMap map;
    int defId = 0;
    std::unique_ptr<CMenu> sysMenu;
    std::map<UINT_PTR, std::unique_ptr<Watch>> watches;
};
