// The Windows backend's dialog (CDialog::Impl): the real dialog window, what it keeps of it and
// what the window tells it (w32::DialogHost), behind the hooks of the shared core. Template.cpp
// builds the window, TimersAndWatches.cpp runs its timers and watches, Dialog.cpp does the rest.
// Internal to the backend.
#pragma once

#include "app/framework/DialogCore.h"
#include "app/framework/win32/Native.h"

#include <cstddef>
#include <cstdint>
#include <map>

struct CDialog::Impl : CDialog::Core, w32::DialogHost {
    explicit Impl(CDialog* o) : owner(o) {}
    ~Impl() override;

    HWND Window() const override { return hwnd; }
    HWND MakeWindow(const res::DialogTemplate& tpl, HWND ownerWindow) override;
    void BuildControls(const res::DialogTemplate& tpl) override;
    void FillSystemMenu(CMenu&) override {} // the window has a system menu of its own
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

    // What the window tells the dialog.
    void HostCommand(int id) override { owner->OnCommand(id); }
    void HostSelChange(int id) override { owner->OnSelChange(id); }
    void HostSysCommand(unsigned id) override { owner->OnSysCommand(id, 0); }
    bool HostOwnsSysCommand(unsigned id) const override;
    void HostTimer(std::uintptr_t id) override;
    void HostOneShot(std::uintptr_t id, std::uint32_t serial) override;
    void HostEvent(std::uintptr_t id, std::uint32_t message) override;
    void HostSocket(std::intptr_t socket, bool readable, bool writable) override;

    struct TimerState {
        bool running = false;
        bool oneShot = false;
        unsigned ms = 0;          // the one-shot's wait
        unsigned handle = 0;      // the one-shot's multimedia timer
        std::uint32_t serial = 0; // of the one-shot last started
    };
    struct WatchState;
    WatchState* FindWatch(UINT_PTR id);
    // Calls OnWatch(id) if the watch is still the one of that serial.
    void FireIfCurrent(UINT_PTR id, std::uint32_t serial);
    // Asks the window for the socket's notices that its watches want.
    void SelectSocket(std::intptr_t socket);

    CDialog* owner;
    HWND hwnd = nullptr;
    HWND ownerHwnd = nullptr;
    std::map<UINT_PTR, TimerState> timers;
    std::uint32_t nextSerial = 0;
    std::size_t sysMenuShown = 0; // items of sysMenu already in the window's menu
};
