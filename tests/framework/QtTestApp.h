// The Qt application object for window tests, created once per test program, and what a user does
// with the mouse.
#pragma once

#include "app/framework/Afx.h"
#include "app/framework/TestHooks.h"
#include "app/framework/qt/QtWindow.h"

#include <QApplication>
#include <QTest>

inline void EnsureQtApp() {
    EnsureGuiForTest();
}

// A press and release of the left button near the control's left edge, as the user clicks it.
inline void MouseClickForTest(const CWnd* wnd) {
    QWidget* w = afx::WidgetOf(wnd);
    QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(8, w->height() / 2));
}
