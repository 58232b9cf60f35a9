// The part of a dialog that every backend keeps the same way, so that the framework's shared code
// (Shared.cpp) can route commands, exchange data and find controls for both.
#pragma once

#include "app/framework/Afx.h"
#include "res/Resources.h"

#include <memory>
#include <vector>

struct CDialog::Core {
    // Detaches the control objects from their controls and forgets the controls and the map:
    // what a destroyed window leaves behind.
    void Release();

    const res::DialogTemplate* tpl = nullptr;
    std::vector<std::unique_ptr<CWnd>> items; // generic handles, template order
    std::vector<CWnd*> bound;                 // control objects attached by DDX_Control
    CMessageMap map;
    int defId = 0;
};
