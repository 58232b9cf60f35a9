// The Qt application object for window tests, created once per test program.
#pragma once

#include "app/framework/Afx.h"
#include "app/framework/TestHooks.h"
#include "app/framework/qt/QtWindow.h"

#include <QApplication>

inline void EnsureQtApp() {
    EnsureGuiForTest();
}
