// What the framework's test seams (TestHooks.h, in varnel_framework_seams) set: plain hooks that
// the program leaves empty. Internal to the framework and its seams.
#pragma once

#include "app/framework/Afx.h"

#include <functional>
#include <string>

struct MessageBoxCall {
    std::string text;
    std::string caption;
    UINT type;
};

namespace afx {

// While set, every message box asks this function instead of showing a box.
extern std::function<int(const MessageBoxCall&)> g_messageBoxAnswerer;
// While set, every modal dialog calls this function from inside its loop once it is shown.
extern std::function<void(CDialog&)> g_modalHook;

} // namespace afx
