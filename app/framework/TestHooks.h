// Seams through which tests drive the framework: they answer message boxes, step into modal
// dialogs and wait for conditions with a deadline. They live in varnel_framework_seams, which
// tests, tools and benchmarks link and the program does not.
#pragma once

#include "app/framework/Afx.h"
#include "app/framework/Hooks.h"

#include <functional>
#include <string>
// While set, every message box asks this function instead of showing a box; its result is the
// box's result. nullptr shows real boxes again.
void SetMessageBoxAnswererForTest(std::function<int(const MessageBoxCall&)> answerer);

// While set, every modal dialog calls this function from inside its loop once it is shown; the
// function may drive the dialog and end it. nullptr clears it.
void SetModalHookForTest(std::function<void(CDialog&)> hook);

// Runs the window thread's event loop until done() holds or timeoutMs passed; returns done().
bool PumpEventsUntil(const std::function<bool()>& done, int timeoutMs);

// What a user does and sees, the same on every backend, for tests that run on all of them.
// Sets up the GUI of the test program once (nothing to do where the backend needs nothing).
void EnsureGuiForTest();
// A click on a push button or a check box (nothing happens to a disabled one).
void ClickForTest(const CWnd& button);
// The user picks item `index` of a drop-down list.
void ChooseForTest(const CWnd& list, int index);
// What a control shows, UTF-8: a pane's text decoded from code page 936, lines joined by LF.
std::string ShownTextForTest(const CWnd& wnd);
bool IsShownForTest(const CWnd& wnd);
// The pixels a text takes in the control's font, and the width the control has for its text (a
// backend without a font draws nothing: 0 and 0).
int TextWidthForTest(const CWnd& wnd, const std::string& text);
int TextRoomForTest(const CWnd& wnd);
// An item of the window's system menu is chosen; the window's close box is clicked.
void SystemCommandForTest(CDialog& dlg, UINT id);
void CloseForTest(CDialog& dlg);
