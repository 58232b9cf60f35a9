// Pieces of the Windows backend shared between its files.
#pragma once

#include "app/framework/Afx.h"

#include <functional>
#include <string>

namespace afx {

// The one function through which every message box goes.
int ShowMessageBox(HWND owner, const std::string& text, const char* caption, UINT type);
// The hook of SetModalHookForTest, or an empty function.
std::function<void(CDialog&)> ModalHook();

} // namespace afx
