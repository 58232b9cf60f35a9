// The part of a dialog that every backend keeps the same way, and the hooks through which the
// shared code (DialogCore.cpp, MessageMap.cpp, DataExchange.cpp, Watches.cpp) asks the backend
// for what touches its platform: it defines the hooks declared here and keeps its own in
// CDialog::Impl.
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

    // The backend makes its Impl, and destroys the window that is left.
    explicit Core(CDialog* o);
    ~Core();
    Core(const Core&) = delete;
    Core& operator=(const Core&) = delete;

    // Detaches the control objects from their controls and forgets the controls and the map:
    // what a destroyed window leaves behind.
    void Release();

    // The backend's part (qt/ or win32/ defines it). The window: nullptr before it is built and
    // once it is destroyed.
    HWND Window() const;
    // Makes the window of the template, hidden, owned by ownerWindow (nullptr: none); nullptr
    // when it cannot. BuildControls then fills items (template order); defId is set before.
    HWND MakeWindow(const res::DialogTemplate& tpl, HWND ownerWindow);
    void BuildControls(const res::DialogTemplate& tpl);
    // The items the system menu starts with, where the backend's window has none of its own.
    void FillSystemMenu(CMenu& menu);
    // Centres the window on its owner, or on the screen.
    void Centre();
    // After OnInitDialog: the system menu's new items into the window's own menu, where it has
    // one; then the focus on the first control that takes it, when focusFirst.
    void Initialised(bool focusFirst);
    // Shows the window and runs its modal loop until the dialog has ended; first, when set, runs
    // from inside the loop once the window is shown.
    void RunModal(std::function<void()> first);
    void Show();
    // Ends the modal loop, or hides a window that has none.
    void Finish(int result);
    void Minimise();
    void SetIcon(const IconResource& icon, bool big);
    // Timers: a timer of that id (repeating, or once) starts anew, its period already within the
    // floors; EndDialog stops them all; DestroyWindow forgets them.
    void StartTimer(UINT_PTR id, unsigned ms, bool oneShot);
    void StopTimers();
    void ForgetTimers();
    // A new watch of an id that is free, on a built window; false when it cannot.
    bool WatchSocket(UINT_PTR id, std::intptr_t socket, bool writable);
    bool WatchEvent(UINT_PTR id, void* event);
    // Destroys the window; its controls go with it.
    void DestroyWindow();

    CDialog* owner;
    std::unique_ptr<Impl> impl; // the backend's own
    const res::DialogTemplate* tpl = nullptr;
    std::vector<std::unique_ptr<CWnd>> items; // generic handles, template order
    std::vector<CWnd*> bound;                 // control objects attached by DDX_Control
    CMessageMap map;
    int defId = 0;
    std::unique_ptr<CMenu> sysMenu;
    std::map<UINT_PTR, std::unique_ptr<Watch>> watches;
};
