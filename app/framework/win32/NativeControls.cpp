// The Windows backend's calls on controls (see Native.h): text, state, tips and the error colour
// of any window; buttons, lists and the address control.
#include "app/framework/IpAddressText.h"
#include "app/framework/win32/NativeInternal.h"

#include <commctrl.h>

#include <algorithm>
#include <map>
#include <set>

namespace w32 {
namespace {

constexpr COLORREF kErrorColour = RGB(0xC0, 0x10, 0x10);

// Tooltips and error colours belong to single controls; kept here by window.
std::map<HWND, HWND> g_tips; // dialog -> its tooltip window
std::map<HWND, std::wstring> g_tipTexts;
std::set<HWND> g_errorColour;

// The four fields of an address control, left to right.
std::vector<HWND> IpFields(HWND ip) {
    std::vector<std::pair<LONG, HWND>> fields;
    for (HWND c = ::GetWindow(ip, GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT)) {
        RECT r{};
        ::GetWindowRect(c, &r);
        fields.emplace_back(r.left, c);
    }
    std::sort(fields.begin(), fields.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<HWND> result;
    for (const auto& f : fields)
        result.push_back(f.second);
    return result;
}

// Dotted decimal into an address control: a part that is not one to three digits leaves its
// field blank, a value above 255 shows as 255.
void SetIpText(HWND ip, const std::string& text) {
    const std::array<int, 4> values = afx::ParseAddressFields(text);
    ::SendMessageW(ip, IPM_CLEARADDRESS, 0, 0);
    if (std::all_of(std::begin(values), std::end(values), [](int v) { return v >= 0; })) {
        ::SendMessageW(ip, IPM_SETADDRESS, 0,
                       MAKEIPADDRESS(values[0], values[1], values[2], values[3]));
        return;
    }
    const std::vector<HWND> fields = IpFields(ip);
    for (std::size_t i = 0; i < 4 && i < fields.size(); ++i)
        if (values[i] >= 0)
            ::SetWindowTextW(fields[i], std::to_wstring(values[i]).c_str());
}

std::string IpText(HWND ip) {
    DWORD a = 0;
    ::SendMessageW(ip, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&a));
    return afx::AddressText(a);
}

} // namespace

HBRUSH ErrorColourBrush(HWND control, HDC dc) {
    if (!g_errorColour.count(control))
        return nullptr;
    ::SetTextColor(dc, kErrorColour);
    ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
    return ::GetSysColorBrush(COLOR_BTNFACE);
}

void ForgetControls(HWND dlg) {
    for (HWND c = ::GetWindow(dlg, GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT)) {
        g_tipTexts.erase(c);
        g_errorColour.erase(c);
    }
    g_tips.erase(dlg);
}

void SetText(Hwnd wnd, const std::string& utf8) {
    if (!wnd)
        return;
    if (IsPane(wnd)) {
        PaneSetBytes(wnd, utf8);
        return;
    }
    if (IsClass(wnd, WC_IPADDRESSW)) {
        SetIpText(wnd, utf8);
        return;
    }
    const std::wstring text = Widen(utf8);
    // An edit that shows the text already keeps its caret and selection.
    if (IsClass(wnd, L"Edit") && Widen(GetText(wnd)) == text)
        return;
    ::SetWindowTextW(wnd, text.c_str());
}

std::string GetText(Hwnd wnd) {
    if (!wnd)
        return {};
    if (IsPane(wnd))
        return PaneBytes(wnd);
    if (IsClass(wnd, WC_IPADDRESSW))
        return IpText(wnd);
    const int n = ::GetWindowTextLengthW(wnd);
    std::wstring text(static_cast<std::size_t>(n) + 1, L'\0');
    const int got = ::GetWindowTextW(wnd, text.data(), n + 1);
    return Narrow(text.data(), got);
}

void Enable(Hwnd wnd, bool enable) {
    if (wnd)
        ::EnableWindow(wnd, enable);
}

bool IsEnabled(Hwnd wnd) {
    return wnd && ::IsWindowEnabled(wnd);
}

void Focus(Hwnd wnd) {
    if (!wnd)
        return;
    const HWND dlg = ::GetAncestor(wnd, GA_ROOT);
    if (dlg && dlg != wnd && IsClass(dlg, L"#32770"))
        ::SendMessageW(dlg, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(wnd), TRUE);
    else
        ::SetFocus(wnd);
}

Hwnd FocusedWindow() {
    return ::GetFocus();
}

bool IsIconic(Hwnd wnd) {
    return wnd && ::IsIconic(::GetAncestor(wnd, GA_ROOT));
}

Hwnd ParentOf(Hwnd wnd) {
    return ::GetParent(wnd);
}

std::string ClassName(Hwnd wnd) {
    wchar_t cls[64] = {};
    const int n = ::GetClassNameW(wnd, cls, 64);
    return Narrow(cls, n);
}

void SetToolTip(Hwnd dlg, Hwnd control, const std::string& utf8) {
    if (!dlg || !control)
        return;
    HWND& tip = g_tips[dlg];
    if (!tip) {
        tip =
            ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                              WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT, CW_USEDEFAULT,
                              CW_USEDEFAULT, CW_USEDEFAULT, dlg, nullptr, Instance(), nullptr);
        ::SendMessageW(tip, TTM_SETMAXTIPWIDTH, 0, 480);
    }
    TTTOOLINFOW info{};
    info.cbSize = TTTOOLINFOW_V2_SIZE;
    info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    info.hwnd = dlg;
    info.uId = reinterpret_cast<UINT_PTR>(control);
    ::SendMessageW(tip, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&info));
    if (utf8.empty()) {
        g_tipTexts.erase(control);
        return;
    }
    std::wstring& text = g_tipTexts[control];
    text = Widen(utf8);
    info.lpszText = text.data();
    ::SendMessageW(tip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
}

std::string ToolTip(Hwnd control) {
    auto it = g_tipTexts.find(control);
    return it == g_tipTexts.end() ? std::string() : Narrow(it->second);
}

void SetErrorColour(Hwnd control, bool error) {
    if (!control)
        return;
    const bool had = g_errorColour.count(control) != 0;
    if (error)
        g_errorColour.insert(control);
    else
        g_errorColour.erase(control);
    if (had != error)
        ::InvalidateRect(control, nullptr, TRUE);
}

bool HasErrorColour(Hwnd control) {
    return g_errorColour.count(control) != 0;
}

// ---------------------------------------------------------------------------------------------
int GetCheck(Hwnd button) {
    return button && ::SendMessageW(button, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
}

void SetCheck(Hwnd button, bool checked) {
    if (button)
        ::SendMessageW(button, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

int ListCurSel(Hwnd combo) {
    return combo ? static_cast<int>(::SendMessageW(combo, CB_GETCURSEL, 0, 0)) : CB_ERR;
}

int ListSetCurSel(Hwnd combo, int index) {
    if (!combo)
        return CB_ERR;
    const int result = static_cast<int>(::SendMessageW(combo, CB_SETCURSEL, index, 0));
    if (result == CB_ERR)
        ::SetWindowTextW(combo, L"");
    return result;
}

int ListCount(Hwnd combo) {
    return combo ? static_cast<int>(::SendMessageW(combo, CB_GETCOUNT, 0, 0)) : 0;
}

int ListAdd(Hwnd combo, const std::string& utf8) {
    if (!combo)
        return CB_ERR;
    const std::wstring text = Widen(utf8);
    return static_cast<int>(
        ::SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str())));
}

std::string ListText(Hwnd combo, int index) {
    if (!combo)
        return {};
    const LRESULT n = ::SendMessageW(combo, CB_GETLBTEXTLEN, index, 0);
    if (n == CB_ERR)
        return {};
    std::wstring text(static_cast<std::size_t>(n) + 1, L'\0');
    const LRESULT got =
        ::SendMessageW(combo, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text.data()));
    return got == CB_ERR ? std::string() : Narrow(text.data(), static_cast<int>(got));
}

void ListReset(Hwnd combo) {
    if (combo) {
        ::SendMessageW(combo, CB_RESETCONTENT, 0, 0);
        ::SetWindowTextW(combo, L"");
    }
}

int IpGet(Hwnd ip, std::uint32_t& address) {
    DWORD a = 0;
    const int n =
        ip ? static_cast<int>(::SendMessageW(ip, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&a)))
           : 0;
    address = a;
    return n;
}

void IpSet(Hwnd ip, std::uint32_t address) {
    if (ip)
        ::SendMessageW(ip, IPM_SETADDRESS, 0, static_cast<LPARAM>(address));
}

void IpClear(Hwnd ip) {
    if (ip)
        ::SendMessageW(ip, IPM_CLEARADDRESS, 0, 0);
}

bool IpBlank(Hwnd ip) {
    return !ip || ::SendMessageW(ip, IPM_ISBLANK, 0, 0) != 0;
}

} // namespace w32
