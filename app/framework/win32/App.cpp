// The dialog framework's backend on the real Windows dialogs and controls. This file: start-up and
// the message box.
#include "app/framework/Afx.h"
#include "app/framework/Internal.h"
#include "app/framework/win32/Native.h"

namespace afx {

int ShowNativeMessageBox(HWND owner, const std::string& text, const std::string& title, UINT type) {
    return w32::ShowMessageBox(owner, text, title, type);
}

} // namespace afx

int AfxWinMain(int, char**) {
    w32::InitGui();
    return afx::RunApplication(w32::RunUntilQuit);
}
