// The framework's backend without widgets (headless/), for the program without a window: here
// its start-up without a GUI, message boxes on standard error, and the end asked for by the
// system (the platform's requests: posix/StopRequests.cpp, win32/StopRequests.cpp) or by the
// program (a service's stop).
#include "app/framework/Afx.h"
#include "app/framework/Internal.h"
#include "app/framework/headless/Headless.h"
#include "app/framework/headless/Loop.h"

#include <cstdio>
#include <utility>

using afx::headless::Loop;

namespace afx {
namespace {

std::FILE* g_messageOutput = nullptr;

} // namespace

// A program without a window never asks: the box's text goes to standard error and the answer
// is that of a box closed without a choice (Cancel where there is one, else No, else OK), the
// one that changes nothing.
int ShowNativeMessageBox(HWND, const std::string& text, const std::string& title, UINT type) {
    std::FILE* out = g_messageOutput ? g_messageOutput : stderr;
    std::fprintf(out, "%s: %s\n", title.c_str(), text.c_str());
    std::fflush(out);
    switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL:
    case MB_YESNOCANCEL:
        return IDCANCEL;
    case MB_YESNO:
        return IDNO;
    default:
        return IDOK;
    }
}

} // namespace afx

namespace {

// What the program's handlers get: the application's main window, when there is one.
std::function<void()> WithMainWindow(std::function<void(CDialog&)> handler) {
    return [handler = std::move(handler)] {
        CWinApp* app = AfxGetApp();
        if (auto* main = dynamic_cast<CDialog*>(app ? app->m_pMainWnd : nullptr))
            handler(*main);
    };
}

const int g_tickerOwner = 0;

} // namespace

void afx::headless::SetStopHandler(std::function<void(CDialog&)> handler) {
    Loop::Instance(); // made before any signal can reach it
    Loop::Instance().SetStopHandler(WithMainWindow(std::move(handler)));
    afx::headless::ListenForStopRequests();
}

void afx::headless::RequestStop() {
    Loop::Instance().RequestStop();
}

void afx::headless::SetReloadHandler(std::function<void(CDialog&)> handler) {
    Loop::Instance().SetReloadHandler(WithMainWindow(std::move(handler)));
    afx::headless::ListenForReloadRequests();
}

void afx::headless::RequestReload() {
    Loop::Instance().RequestReload();
}

void afx::headless::SetTicker(std::chrono::milliseconds period,
                              std::function<void(CDialog&)> handler) {
    if (period.count() <= 0 || !handler) {
        Loop::Instance().KillTimer(&g_tickerOwner, 0);
        return;
    }
    Loop::Instance().SetTimer(&g_tickerOwner, 0, period, false, WithMainWindow(std::move(handler)));
}

void afx::headless::SetMessageOutput(std::FILE* out) {
    afx::g_messageOutput = out;
}

void afx::headless::SetPushObserver(std::function<void(CDialog&)> observer) {
    afx::g_pushObserver = std::move(observer);
}

int AfxWinMain(int, char**) {
    // A main window left open by InitInstance (one made with Create) is served until it ends.
    return afx::RunApplication([] {
        for (;;) {
            auto* main = dynamic_cast<CDialog*>(AfxGetApp()->m_pMainWnd);
            if (!main || !main->GetSafeHwnd() || main->IsEnded())
                return 0;
            Loop::Instance().RunOnce(Loop::Clock::time_point::max());
        }
    });
}
