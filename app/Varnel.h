// The application object of Varnel and its start-up.
#pragma once

#include "app/framework/Afx.h"

class CVarnelApp : public CWinApp {
public:
    CVarnelApp();
    ~CVarnelApp() override;

    // Starts the socket library and runs the main window; always returns false, which ends the
    // application once the window has closed (or at once, when the sockets could not start).
    bool InitInstance() override;
};

extern CVarnelApp theApp;
