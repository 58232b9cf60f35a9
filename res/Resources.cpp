#include "res/Resources.h"

#include "res/resource.h"

#include <map>

namespace res {
namespace {

constexpr std::uint32_t kChild = WS_CHILD | WS_VISIBLE;

const DialogTemplate kAboutBox{
    IDD_ABOUTBOX,
    DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU,
    0,
    "关于 Varnel",
    0,
    0,
    235,
    55,
    "宋体",
    9,
    {
        {ControlClass::Static, IDC_STATIC, kChild | SS_ICON, "128", 11, 17, 20, 20},
        {ControlClass::Static, IDC_STATIC, kChild | SS_LEFT | SS_NOPREFIX, "Varnel 1.0 版", 40, 10,
         119, 8},
        {ControlClass::Static, IDC_STATIC, kChild | SS_LEFT, "版权所有 (C) 2026", 40, 25, 119, 8},
        {ControlClass::Button, IDOK, kChild | BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP, "确定", 178,
         7, 50, 14},
    },
    {},
};

const DialogTemplate kMainDialog{
    IDD_VARNEL_DIALOG,
    DS_SETFONT | DS_MODALFRAME | WS_MINIMIZEBOX | WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU,
    WS_EX_APPWINDOW,
    "Varnel",
    0,
    0,
    571,
    409,
    "宋体",
    9,
    {
        {ControlClass::Button, IDC_BUTTON_OPEN, kChild | BS_DEFPUSHBUTTON | WS_TABSTOP, "打开", 347,
         22, 50, 14},
        {ControlClass::Button, IDC_BUTTON_CLEAR, kChild | BS_PUSHBUTTON | WS_TABSTOP, "清空", 348,
         45, 50, 14},
        {ControlClass::Button, IDC_STATIC, kChild | BS_GROUPBOX, "设置", 7, 7, 557, 65},
        {ControlClass::Static, IDC_STATIC, kChild | SS_LEFT | WS_GROUP, "串口", 17, 27, 17, 8},
        {ControlClass::Static, IDC_STATIC, kChild | SS_LEFT | WS_GROUP, "波特率", 17, 52, 25, 8},
        {ControlClass::ComboBox, IDC_COMBO_PORT,
         kChild | CBS_DROPDOWN | CBS_SORT | WS_VSCROLL | WS_TABSTOP, "", 57, 25, 48, 47},
        {ControlClass::ComboBox, IDC_COMBO_BAUD,
         kChild | CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP, "", 57, 51, 48, 44},
        {ControlClass::Static, IDC_STATIC_COMSTATUS, kChild | SS_LEFT, "COM Status", 409, 24, 72,
         8},
        {ControlClass::Button, IDC_STATIC_COMDATA, kChild | BS_GROUPBOX, "串口数据", 7, 75, 557,
         144},
        {ControlClass::Button, IDC_STATIC_TCPDATA, kChild | BS_GROUPBOX, "网络数据", 7, 222, 557,
         163},
        {ControlClass::Edit, IDC_EDIT_COMDATA,
         kChild | ES_MULTILINE | ES_AUTOVSCROLL | WS_BORDER | WS_VSCROLL | WS_TABSTOP, "", 14, 85,
         544, 127},
        {ControlClass::Edit, IDC_EDIT_TCPDATA,
         kChild | ES_MULTILINE | ES_AUTOVSCROLL | WS_BORDER | WS_VSCROLL | WS_TABSTOP, "", 14, 235,
         544, 144},
        {ControlClass::Static, IDC_STATIC_COMCOUNT, kChild | SS_CENTER, "0", 7, 394, 65, 8},
        {ControlClass::Static, IDC_STATIC_TCPCOUNT, kChild | SS_CENTER, "0", 85, 394, 72, 8},
        {ControlClass::Button, IDC_CHECK_HEX, kChild | BS_AUTOCHECKBOX | WS_TABSTOP, "HEX", 297, 21,
         28, 10},
        {ControlClass::IpAddress, IDC_IPADDRESS_SERVER, kChild | WS_TABSTOP, "IPAddress1", 171, 25,
         100, 15},
        {ControlClass::Static, IDC_STATIC_ADDRESS, kChild | SS_LEFT | WS_GROUP, "服务器IP", 123, 27,
         33, 8},
        {ControlClass::Static, IDC_STATIC, kChild | SS_LEFT | WS_GROUP, "PORT", 123, 51, 17, 8},
        {ControlClass::Edit, IDC_EDIT_PORT,
         kChild | ES_LEFT | ES_AUTOHSCROLL | ES_NUMBER | WS_BORDER | WS_TABSTOP, "", 171, 49, 40,
         14},
        {ControlClass::Static, IDC_STATIC_NETSTATUS, kChild | SS_LEFT, "NET Status", 409, 48, 72,
         8},
        {ControlClass::Button, IDC_CHECK_SINGLE, kChild | BS_AUTOCHECKBOX | WS_TABSTOP, "Single",
         297, 54, 40, 10},
        {ControlClass::Button, IDC_CHECK_0X, kChild | BS_AUTOCHECKBOX | WS_TABSTOP, "0x", 297, 39,
         24, 10},
    },
    {
        {IDC_COMBO_PORT, {"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7"}},
        {IDC_COMBO_BAUD, {"300", "1200", "9600", "38400", "57600", "115200"}},
    },
};

// The framework's application title, shown as the caption of message boxes that give none.
constexpr int kAppTitle = 0xE000;

const std::map<int, const char*> kStrings{
    {IDS_ABOUTBOX, "关于 Varnel(&A)..."},
    {IDP_SOCKETS_INIT_FAILED, "Windows 通信端口初始化失败。"},
    {kAppTitle, "Varnel"},
};

} // namespace

const DialogTemplate* FindDialog(int id) {
    switch (id) {
    case IDD_ABOUTBOX:
        return &kAboutBox;
    case IDD_VARNEL_DIALOG:
        return &kMainDialog;
    default:
        return nullptr;
    }
}

const char* FindString(int id) {
    auto it = kStrings.find(id);
    return it == kStrings.end() ? nullptr : it->second;
}

std::string VersionText() {
    return std::to_string(kVersion.major) + "." + std::to_string(kVersion.minor) + "." +
           std::to_string(kVersion.patch) + "." + std::to_string(kVersion.build);
}

std::vector<std::string> IconImagePaths(int id) {
    if (id != IDR_MAINFRAME)
        return {};
    return {":/varnel/icons/varnel-16.png", ":/varnel/icons/varnel-32.png"};
}

} // namespace res
