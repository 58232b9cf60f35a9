// The Windows backend's dialog: the real dialog window, what it keeps of it and what the window
// tells it (CDialog::Impl, a w32::DialogHost), and its part of the shared core's hooks.
// Template.cpp builds the window, TimersAndWatches.cpp runs its timers and watches, Dialog.cpp does
// the rest. Internal to the backend.
#pragma once

#include "app/framework/DialogCore.h"
#include "app/framework/win32/Native.h"

#include <cstddef>
#include <cstdint>
#include <map>

struct CDialog::Impl : w32::DialogHost {
    explicit Impl(Core& c) : core(c) {}

    // What the window tells the dialog.
    void HostCommand(int id) override { core.owner->OnCommand(id); }
    void HostSelChange(int id) override { core.owner->OnSelChange(id); }
    void HostSysCommand(unsigned id) override { core.owner->OnSysCommand(id, 0); }
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

    Core& core;
    HWND hwnd = nullptr;
    HWND ownerHwnd = nullptr;
    std::map<UINT_PTR, TimerState> timers;
    std::uint32_t nextSerial = 0;
    std::size_t sysMenuShown = 0; // items of the system menu already in the window's menu
};
