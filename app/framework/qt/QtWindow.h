// The Qt backend's side of the framework's window handles: the widget behind a window, for the
// backend itself and for tests that drive the window with Qt's own means.
#pragma once

#include "app/framework/Afx.h"

class QWidget;

namespace afx {

inline QWidget* WidgetOf(HWND hWnd) {
    return reinterpret_cast<QWidget*>(hWnd);
}
inline HWND HandleOf(QWidget* widget) {
    return reinterpret_cast<HWND>(widget);
}
inline QWidget* WidgetOf(const CWnd* wnd) {
    return wnd ? WidgetOf(wnd->GetSafeHwnd()) : nullptr;
}

} // namespace afx

// Sets up the GUI (font, style, names) on an existing Qt application object.
void AfxInitGui();
