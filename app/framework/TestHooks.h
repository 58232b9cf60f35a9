// Seams through which tests drive the framework: they answer message boxes, step into modal
// dialogs and wait for conditions with a deadline.
#pragma once

#include "app/framework/Afx.h"

#include <functional>
#include <string>

struct MessageBoxCall {
    std::string text;
    std::string caption;
    UINT type;
};
// While set, every message box asks this function instead of showing a box; its result is the
// box's result. nullptr shows real boxes again.
void SetMessageBoxAnswererForTest(std::function<int(const MessageBoxCall&)> answerer);

// While set, every modal dialog calls this function from inside its loop once it is shown; the
// function may drive the dialog and end it. nullptr clears it.
void SetModalHookForTest(std::function<void(CDialog&)> hook);

// Runs the window thread's event loop until done() holds or timeoutMs passed; returns done().
bool PumpEventsUntil(const std::function<bool()>& done, int timeoutMs);
