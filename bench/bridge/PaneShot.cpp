// pane_shot: a picture of the main window after a long run with both panes at their bound,
// the serial pane in text form with Chinese readings, the network pane in hexadecimal, both
// scrolled to their last line as after a block, and the process's resident memory at that point.
//     pane_shot FILE.png   (needs a display: Xvfb, or QT_QPA_PLATFORM=offscreen)
#include "app/Varnel.h"
#include "app/VarnelDlg.h"
#include "app/framework/TestHooks.h"
#include "app/framework/qt/QtWindow.h"
#include "support/PtyPair.h"

#include <QApplication>
#include <QPixmap>
#include <QStringEncoder>
#include <QWidget>

#include <cstdio>
#include <fstream>
#include <string>

namespace {

// Code page 936 bytes of a UTF-8 text.
std::string Gbk(const char* utf8) {
    QStringEncoder encoder("GB18030");
    const QByteArray bytes = encoder.encode(QString::fromUtf8(utf8));
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

// Resident memory of the process in MiB.
double ResidentMiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stod(line.substr(6)) / 1024;
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: pane_shot FILE.png\n", stderr);
        return 2;
    }
    QApplication app(argc, argv);
    AfxInitGui();
    static_cast<void>(theApp);
    testing_support::TempWorkDir dir;
    CVarnelDlg dlg;
    dlg.Create();
    QWidget* window = afx::WidgetOf(&dlg);
    window->show();
    int n = 0;
    // Each block is shown as the running window shows it: push, scroll, paint.
    auto block = [&](bool fromNetwork, const std::string& bytes) {
        dlg.ShowTrafficBlock(fromNetwork, bytes.data(), static_cast<int>(bytes.size()));
        (fromNetwork ? dlg.m_strTcpData : dlg.m_strComData) += "\r\n";
        dlg.UpdateData(false);
        dlg.m_editComData.LineScroll(dlg.m_editComData.GetLineCount());
        dlg.m_editTcpData.LineScroll(dlg.m_editTcpData.GetLineCount());
        QCoreApplication::processEvents();
    };
    // Until both panes have dropped twice what they hold: a long run at the bound.
    auto longRun = [](const CString& pane) {
        return pane.DroppedFront() > 0 && pane.DroppedFront() >= 2 * pane.size();
    };
    while (!longRun(dlg.m_strComData) || !longRun(dlg.m_strTcpData)) {
        ++n;
        std::string text = Gbk("温度 23.5 C, 电压 3.30 V, 设备状态 正常 (device OK) #");
        text += std::to_string(n) + "\r\n";
        for (int i = 0; i < 3; ++i)
            text += "#" + std::to_string(n * 10 + i) + " T=+21.37 H=48.2 P=1008.61 V=3.297 OK\r\n";
        dlg.m_chkHex.SetCheck(0);
        block(false, text);
        dlg.m_chkHex.SetCheck(1);
        dlg.m_chk0x.SetCheck(n % 2);
        block(true, text + text.substr(0, static_cast<std::size_t>(n % 300)));
    }
    for (int i = 0; i < 10; ++i)
        QCoreApplication::processEvents();
    const bool saved = window->grab().save(QString::fromLocal8Bit(argv[1]));
    std::printf("%s: %d blocks per pane, %zu and %zu bytes shown, %.1f MiB resident\n",
                saved ? "saved" : "not saved", n, dlg.m_strComData.size(), dlg.m_strTcpData.size(),
                ResidentMiB());
    return saved ? 0 : 1;
}
