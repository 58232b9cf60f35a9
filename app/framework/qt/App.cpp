// The dialog framework's backend on Qt 6 Widgets (Linux). This file: the application object,
// start-up, message boxes and icons.
#include "app/framework/Afx.h"
#include "app/framework/qt/Internal.h"
#include "app/framework/qt/QtWindow.h"
#include "app/framework/qt/Widgets.h"
#include "res/Resources.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include <malloc.h>
#include <map>
#include <utility>

namespace {

// The box's icon for each icon style of the type.
constexpr std::pair<UINT, QMessageBox::Icon> kIcons[] = {
    {MB_ICONHAND, QMessageBox::Critical},
    {MB_ICONQUESTION, QMessageBox::Question},
    {MB_ICONEXCLAMATION, QMessageBox::Warning},
    {MB_ICONASTERISK, QMessageBox::Information},
};

} // namespace

namespace afx {

int ShowNativeMessageBox(HWND owner, const std::string& text, const std::string& title, UINT type) {
    QMessageBox box(WidgetOf(owner));
    box.setWindowTitle(QString::fromStdString(title));
    box.setText(QString::fromStdString(text));
    box.setTextFormat(Qt::PlainText);
    for (const auto& [style, icon] : kIcons)
        if ((type & MB_ICONMASK) == style)
            box.setIcon(icon);
    std::map<QAbstractButton*, int> results;
    auto add = [&](const char* label, QMessageBox::ButtonRole role, int result) {
        QPushButton* b = box.addButton(QString::fromUtf8(label), role);
        results[b] = result;
        return b;
    };
    QPushButton* first = nullptr;
    QPushButton* escape = nullptr;
    switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL:
        first = add("确定", QMessageBox::AcceptRole, IDOK);
        escape = add("取消", QMessageBox::RejectRole, IDCANCEL);
        break;
    case MB_YESNOCANCEL:
        first = add("是(&Y)", QMessageBox::YesRole, IDYES);
        add("否(&N)", QMessageBox::NoRole, IDNO);
        escape = add("取消", QMessageBox::RejectRole, IDCANCEL);
        break;
    case MB_YESNO:
        first = add("是(&Y)", QMessageBox::YesRole, IDYES);
        add("否(&N)", QMessageBox::NoRole, IDNO);
        break;
    default:
        first = escape = add("确定", QMessageBox::AcceptRole, IDOK);
        break;
    }
    box.setDefaultButton(first);
    if (escape)
        box.setEscapeButton(escape);
    box.exec();
    auto it = results.find(box.clickedButton());
    if (it != results.end())
        return it->second;
    return escape ? results[escape] : IDNO;
}

QIcon IconOf(HICON icon) {
    QIcon result;
    if (icon)
        for (const std::string& path : res::IconImagePaths(static_cast<int>(icon->id)))
            result.addFile(QString::fromStdString(path));
    return result;
}

} // namespace afx

void AfxInitGui() {
    // The panes hold texts of megabytes that are replaced whole now and then. Blocks that large
    // get pages of their own, which go back to the system when freed; left to itself, the
    // allocator raises that threshold after the first such free and keeps the freed megabytes
    // in its heap for good.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
    QApplication::setFont(afx::DialogFont());
    QCoreApplication::setApplicationName(QString::fromUtf8(AfxGetAppName()));
    QCoreApplication::setApplicationVersion(QString::fromStdString(res::VersionText()));
}

int AfxWinMain(int argc, char** argv) {
    QApplication app(argc, argv);
    AfxInitGui();
    return afx::RunApplication([] { return QApplication::exec(); });
}
