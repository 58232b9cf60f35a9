#include "app/Varnel.h"

#include "app/EventListener.h"
#include "app/VarnelDlg.h"
#include "res/resource.h"

CVarnelApp theApp;

CVarnelApp::CVarnelApp() {
    InstallEventListener();
}

CVarnelApp::~CVarnelApp() = default;

bool CVarnelApp::InitInstance() {
    if (!AfxSocketInit()) {
        AfxMessageBox(IDP_SOCKETS_INIT_FAILED);
        return false;
    }

    CVarnelDlg dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();
    m_pMainWnd = nullptr;

    // The dialog has closed: end the application instead of starting its message loop.
    return false;
}
