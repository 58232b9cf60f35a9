// The Qt application object for window tests, created once per test program.
#pragma once

#include "app/framework/Afx.h"
#include "app/framework/qt/QtWindow.h"

#include <QApplication>

inline void EnsureQtApp() {
    static int argc = 1;
    static char arg0[] = "varnel-test";
    static char* argv[] = {arg0, nullptr};
    if (!qApp) {
        new QApplication(argc, argv); // lives until the process ends
        AfxInitGui();
    }
}
