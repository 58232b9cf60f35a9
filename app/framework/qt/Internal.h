// Pieces of the framework shared between its files.
#pragma once

#include "app/framework/Afx.h"

#include <QIcon>

#include <functional>
#include <string>

class QWidget;

namespace afx {

// The one function through which every message box goes.
int ShowMessageBox(QWidget* owner, const std::string& text, const char* caption, UINT type);
// The hook of SetModalHookForTest, or an empty function.
std::function<void(CDialog&)> ModalHook();
QIcon IconOf(HICON icon);

} // namespace afx
