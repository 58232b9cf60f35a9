#include "app/Varnel.h"

#include "app/VarnelDlg.h"
#include "res/resource.h"
#include "serial/Ports.h"

#include <utility>

CVarnelApp theApp;

CVarnelApp::CVarnelApp() {
    // The window learns of the serial layer's events from the layer (on Windows it waits on them
    // itself and never asks).
    AfxSetEventListener([](void* hEvent, std::function<void()> notify) {
        return comm::SetEventListener(hEvent, std::move(notify)) != comm::FALSE;
    });
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

CAboutDlg::CAboutDlg() : CDialog(IDD) {}

CAboutDlg::~CAboutDlg() = default;

void CAboutDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
}

BEGIN_MESSAGE_MAP(CAboutDlg, CDialog)
END_MESSAGE_MAP()
