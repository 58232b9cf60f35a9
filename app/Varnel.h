// The application object of Varnel and its start-up, and its settings file.
#pragma once

#include "app/framework/Afx.h"
#include "app/network/NetworkSettings.h"
#include "app/network/TlsConfig.h"
#include "res/resource.h"

#include <string>

class CVarnelApp : public CWinApp {
public:
    CVarnelApp();
    ~CVarnelApp() override;

    // Starts the socket library and runs the main window; always returns false, which ends the
    // application once the window has closed (or at once, when the sockets could not start).
    bool InitInstance() override;
};

extern CVarnelApp theApp;

// The About box, from the main window's system menu.
class CAboutDlg : public CDialog {
public:
    CAboutDlg();
    ~CAboutDlg() override;
    enum { IDD = IDD_ABOUTBOX };

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    DECLARE_MESSAGE_MAP()
};

// The settings file, relative to the current directory at each access. The program without a
// window may name another one in that folder (its --config) before the main window is made.
inline const char* SETTINGS_FILE = ".\\VarnelConfig.ini";

// What of the settings file each half runs on, to tell which a new file changes: the values only
// the serial side uses, those only the network side uses, and those that shape the whole link.
struct SettingsPrint {
    std::string serial, network, link;
};
SettingsPrint ReadSettingsPrint();
// The network side's values in the settings file, each read whole; its TLS files and names.
NetworkSettingTexts NetworkSettingTextsOfFile();
TlsSettings TlsSettingsOfFile(bool bEnabled);
