// The part of a dialog that every backend keeps the same way, so that the framework's shared code
// (Shared.cpp) can route commands, exchange data and find controls for both.
#pragma once

#include "app/framework/Afx.h"

#include <memory>
#include <vector>

struct CDialog::Core {
    std::vector<std::unique_ptr<CWnd>> items; // generic handles, template order
    std::vector<CWnd*> bound;                 // control objects attached by DDX_Control
    CMessageMap map;
    int defId = 0;
};
