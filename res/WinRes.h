// Window styles, command ids and message-box codes in the values of the platform the dialog
// templates were first written for. The templates in this folder and the window framework share
// them.
#pragma once

#include <cstdint>

// Window styles (dialogs and controls).
inline constexpr std::uint32_t WS_POPUP = 0x80000000u;
inline constexpr std::uint32_t WS_CHILD = 0x40000000u;
inline constexpr std::uint32_t WS_VISIBLE = 0x10000000u;
inline constexpr std::uint32_t WS_DISABLED = 0x08000000u;
inline constexpr std::uint32_t WS_CAPTION = 0x00C00000u;
inline constexpr std::uint32_t WS_BORDER = 0x00800000u;
inline constexpr std::uint32_t WS_VSCROLL = 0x00200000u;
inline constexpr std::uint32_t WS_HSCROLL = 0x00100000u;
inline constexpr std::uint32_t WS_SYSMENU = 0x00080000u;
inline constexpr std::uint32_t WS_THICKFRAME = 0x00040000u;
inline constexpr std::uint32_t WS_GROUP = 0x00020000u;
inline constexpr std::uint32_t WS_TABSTOP = 0x00010000u;
inline constexpr std::uint32_t WS_MINIMIZEBOX = 0x00020000u;
inline constexpr std::uint32_t WS_MAXIMIZEBOX = 0x00010000u;
inline constexpr std::uint32_t WS_EX_APPWINDOW = 0x00040000u;

// Dialog styles.
inline constexpr std::uint32_t DS_SETFONT = 0x0040u;
inline constexpr std::uint32_t DS_MODALFRAME = 0x0080u;
inline constexpr std::uint32_t DS_CENTER = 0x0800u;

// Button styles (the low four bits choose the kind).
inline constexpr std::uint32_t BS_PUSHBUTTON = 0x0u;
inline constexpr std::uint32_t BS_DEFPUSHBUTTON = 0x1u;
inline constexpr std::uint32_t BS_AUTOCHECKBOX = 0x3u;
inline constexpr std::uint32_t BS_GROUPBOX = 0x7u;
inline constexpr std::uint32_t BS_TYPEMASK = 0xFu;

// Edit styles.
inline constexpr std::uint32_t ES_LEFT = 0x0000u;
inline constexpr std::uint32_t ES_MULTILINE = 0x0004u;
inline constexpr std::uint32_t ES_AUTOVSCROLL = 0x0040u;
inline constexpr std::uint32_t ES_AUTOHSCROLL = 0x0080u;
inline constexpr std::uint32_t ES_READONLY = 0x0800u;
inline constexpr std::uint32_t ES_WANTRETURN = 0x1000u;
inline constexpr std::uint32_t ES_NUMBER = 0x2000u;

// Static styles (the low five bits choose the kind).
inline constexpr std::uint32_t SS_LEFT = 0x00u;
inline constexpr std::uint32_t SS_CENTER = 0x01u;
inline constexpr std::uint32_t SS_ICON = 0x03u;
inline constexpr std::uint32_t SS_TYPEMASK = 0x1Fu;
inline constexpr std::uint32_t SS_NOPREFIX = 0x80u;

// Combo-box styles.
inline constexpr std::uint32_t CBS_DROPDOWN = 0x0002u;
inline constexpr std::uint32_t CBS_AUTOHSCROLL = 0x0040u;
inline constexpr std::uint32_t CBS_SORT = 0x0100u;

// Command ids of the standard buttons, also the results of message boxes.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDABORT = 3;
inline constexpr int IDRETRY = 4;
inline constexpr int IDIGNORE = 5;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

// Message-box buttons and icons.
inline constexpr unsigned MB_OK = 0x00u;
inline constexpr unsigned MB_OKCANCEL = 0x01u;
inline constexpr unsigned MB_YESNOCANCEL = 0x03u;
inline constexpr unsigned MB_YESNO = 0x04u;
inline constexpr unsigned MB_TYPEMASK = 0x0Fu;
inline constexpr unsigned MB_ICONHAND = 0x10u;
inline constexpr unsigned MB_ICONQUESTION = 0x20u;
inline constexpr unsigned MB_ICONEXCLAMATION = 0x30u;
inline constexpr unsigned MB_ICONASTERISK = 0x40u;
inline constexpr unsigned MB_ICONMASK = 0xF0u;

// System commands.
inline constexpr unsigned SC_MINIMIZE = 0xF020u;
inline constexpr unsigned SC_CLOSE = 0xF060u;

// Menu item flags.
inline constexpr unsigned MF_STRING = 0x0000u;
inline constexpr unsigned MF_SEPARATOR = 0x0800u;
inline constexpr unsigned MF_UNCHECKED = 0x0000u;
inline constexpr unsigned MF_CHECKED = 0x0008u;
