// The Qt backend's dialog: its window and timers (CDialog::Impl), and its part of the shared
// core's hooks. Template.cpp builds the window, TimersAndWatches.cpp runs its timers and
// watches, Dialog.cpp does the rest. Internal to the backend.
#pragma once

#include "app/framework/DialogCore.h"
#include "app/framework/qt/Widgets.h"

#include <QPointer>

#include <map>

class QTimer;

struct CDialog::Impl {
    struct SocketWatch;
    struct EventWatch;

    QPointer<afx::DialogWidget> widget;
    std::map<UINT_PTR, QTimer*> timers; // children of the widget
};

namespace afx {

// Installs, once, the keys that every dialog handles before its controls see them.
void InstallDialogKeys();

} // namespace afx
