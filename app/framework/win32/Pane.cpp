// The traffic panes on Windows: a window class of our own that draws the member's bytes, decoded
// as code page 936, with the shared bookkeeping (PaneText) and a layout of only the lines in view
// and at the bottom. The stock multi-line edit takes longer to append a block to a pane's amount
// of text than a tick lasts; this one costs what was added. Text can be selected with the mouse
// or Ctrl+A and copied with Ctrl+C, Ctrl+Insert or the context menu; typing changes nothing.
#include "app/framework/PaneText.h"
#include "app/framework/win32/NativeInternal.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <map>

namespace w32 {
namespace {

constexpr wchar_t kClassName[] = L"VarnelPane";
constexpr int kMargin = 3;
constexpr UINT kCopyCommand = 1;
constexpr UINT kSelectAllCommand = 2;

// A place in the text: a text line and a character of its decoded text.
struct Pos {
    std::size_t line = 0;
    int ch = 0;
    bool operator<(const Pos& o) const { return line != o.line ? line < o.line : ch < o.ch; }
    bool operator==(const Pos& o) const = default;
};

std::wstring Decode(std::string_view bytes) {
    if (bytes.empty())
        return {};
    // ASCII is the same in code page 936, and most lines are nothing else.
    if (std::all_of(bytes.begin(), bytes.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return std::wstring(bytes.begin(), bytes.end());
    const int n =
        ::MultiByteToWideChar(936, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(std::max(n, 0)), L'\0');
    ::MultiByteToWideChar(936, 0, bytes.data(), static_cast<int>(bytes.size()), w.data(), n);
    return w;
}

class Pane {
public:
    explicit Pane(HWND hwnd) : m_hwnd(hwnd) {}

    void SetText(const CString& text) { Apply(m_text.SetText(text)); }
    void SetBytes(const std::string& bytes) { Apply(m_text.SetBytes(bytes)); }
    std::string Bytes() const {
        const char* shown = m_text.Shown();
        return shown ? std::string(shown, m_text.Size()) : std::string();
    }
    std::string ShownUtf8() const {
        std::wstring all;
        for (std::size_t i = 0; i < m_text.LineCount(); ++i) {
            if (i > 0)
                all += L'\n';
            all += Decoded(i);
        }
        return Narrow(all);
    }
    int LineCount() const { return std::max(1, m_text.Rows()); }
    int FirstVisibleLine() const { return m_top; }
    void Scroll(int rows) { ScrollTo(m_top + rows); }
    std::string SelectionUtf8() const { return Narrow(Selection()); }
    void SelectAll() {
        m_anchor = {};
        const std::size_t last = m_text.LineCount() - 1;
        m_caret = {last, static_cast<int>(Decoded(last).size())};
        ::InvalidateRect(m_hwnd, nullptr, FALSE);
    }
    bool Copy() const;

    LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp);

private:
    struct Laid {
        std::wstring text;
        std::vector<int> rowStarts; // first character of each row
    };

    void Apply(const afx::PaneText::Change& change) {
        // The same text again (a push of the status alone) leaves the view and the selection
        // where they are.
        if (!change.changed)
            return;
        if (!change.grew) {
            m_laid.clear();
            m_anchor = m_caret = {};
        }
        if (change.changed) {
            m_laid.erase(m_laid.lower_bound(change.from), m_laid.end());
            const std::size_t last = m_text.LineCount() - 1;
            for (Pos* p : {&m_anchor, &m_caret})
                if (p->line > last)
                    *p = {last, 0};
        }
        // The view goes back to the first line, as an edit's does when its text is set; the
        // caller scrolls to where it wants to be.
        m_top = 0;
        UpdateRange();
        ::InvalidateRect(m_hwnd, nullptr, FALSE);
    }

    std::wstring Decoded(std::size_t line) const { return Decode(m_text.LineBytes(line)); }

    int Width() const {
        RECT r{};
        ::GetClientRect(m_hwnd, &r);
        return std::max<int>(1, r.right - 2 * kMargin);
    }
    int VisibleRows() const {
        RECT r{};
        ::GetClientRect(m_hwnd, &r);
        return std::max<int>(1, (r.bottom - 2 * kMargin) / m_lineHeight);
    }

    const Laid& LayoutOf(std::size_t line) {
        auto it = m_laid.find(line);
        if (it != m_laid.end())
            return it->second;
        Laid laid;
        laid.text = Decoded(line);
        laid.rowStarts.push_back(0);
        const int width = Width();
        HDC dc = ::GetDC(m_hwnd);
        HGDIOBJ old = ::SelectObject(dc, m_font ? m_font : ::GetStockObject(DEFAULT_GUI_FONT));
        const int length = static_cast<int>(laid.text.size());
        int pos = 0;
        while (pos < length) {
            int fit = 0;
            SIZE size{};
            ::GetTextExtentExPointW(dc, laid.text.data() + pos, length - pos, width, &fit, nullptr,
                                    &size);
            if (pos + fit >= length)
                break;
            fit = std::max(fit, 1);
            // A row ends after the last blank that fits, or where the width ends.
            int brk = pos + fit;
            for (int i = pos + fit; i > pos; --i)
                if (laid.text[static_cast<std::size_t>(i - 1)] == L' ') {
                    brk = i;
                    break;
                }
            pos = brk;
            laid.rowStarts.push_back(pos);
        }
        ::SelectObject(dc, old);
        ::ReleaseDC(m_hwnd, dc);
        m_text.SetRows(line, static_cast<int>(laid.rowStarts.size()));
        return m_laid.emplace(line, std::move(laid)).first->second;
    }

    int MaxTop() {
        // The rows that fill the view from the bottom are laid out, so that the bottom is exact.
        const int visible = VisibleRows();
        int rows = 0;
        for (std::size_t i = m_text.LineCount(); i-- > 0 && rows < visible;)
            rows += static_cast<int>(LayoutOf(i).rowStarts.size());
        return std::max(0, m_text.Rows() - visible);
    }

    void UpdateRange() {
        const int maxTop = MaxTop();
        m_top = std::clamp(m_top, 0, maxTop);
        SCROLLINFO si{sizeof si,
                      SIF_RANGE | SIF_PAGE | SIF_POS | SIF_DISABLENOSCROLL,
                      0,
                      std::max(0, m_text.Rows() - 1),
                      static_cast<UINT>(VisibleRows()),
                      m_top,
                      0};
        ::SetScrollInfo(m_hwnd, SB_VERT, &si, TRUE);
        Trim();
    }

    void Trim() {
        // Only the lines in view and those at the bottom keep their layouts.
        if (m_laid.size() < 256)
            return;
        const std::size_t first = m_text.Locate(m_top).first;
        const std::size_t last = m_text.Locate(m_top + VisibleRows()).first;
        const std::size_t bottom = m_text.LineCount() > 64 ? m_text.LineCount() - 64 : 0;
        for (auto it = m_laid.begin(); it != m_laid.end();) {
            if (it->first < bottom && (it->first < first || it->first > last))
                it = m_laid.erase(it);
            else
                ++it;
        }
    }

    void ScrollTo(int top) {
        const int maxTop = MaxTop();
        top = std::clamp(top, 0, maxTop);
        if (top == m_top)
            return;
        m_top = top;
        ::SetScrollPos(m_hwnd, SB_VERT, m_top, TRUE);
        ::InvalidateRect(m_hwnd, nullptr, FALSE);
    }

    // The text line and row at a display row of the view, laid out.
    std::pair<std::size_t, int> RowAt(int displayRow) {
        auto [line, row] = m_text.Locate(displayRow);
        const Laid& laid = LayoutOf(line);
        return {line, std::min(row, static_cast<int>(laid.rowStarts.size()) - 1)};
    }

    Pos PosAt(int x, int y) {
        if (m_text.LineCount() == 0)
            return {};
        int rowInView = (y - kMargin) / m_lineHeight;
        if (y < kMargin)
            rowInView = -1;
        const int displayRow = std::clamp(m_top + rowInView, 0, std::max(0, m_text.Rows() - 1));
        auto [line, row] = RowAt(displayRow);
        const Laid& laid = LayoutOf(line);
        const int begin = laid.rowStarts[static_cast<std::size_t>(row)];
        const int end = row + 1 < static_cast<int>(laid.rowStarts.size())
                            ? laid.rowStarts[static_cast<std::size_t>(row + 1)]
                            : static_cast<int>(laid.text.size());
        HDC dc = ::GetDC(m_hwnd);
        HGDIOBJ old = ::SelectObject(dc, m_font ? m_font : ::GetStockObject(DEFAULT_GUI_FONT));
        int ch = begin;
        int prev = 0;
        for (int i = begin; i < end; ++i) {
            SIZE size{};
            ::GetTextExtentPoint32W(dc, laid.text.data() + begin, i + 1 - begin, &size);
            if (x - kMargin < (prev + size.cx) / 2)
                break;
            prev = size.cx;
            ch = i + 1;
        }
        ::SelectObject(dc, old);
        ::ReleaseDC(m_hwnd, dc);
        return {line, ch};
    }

    std::wstring Selection() const {
        if (m_anchor == m_caret)
            return {};
        const Pos from = std::min(m_anchor, m_caret);
        const Pos to = std::max(m_anchor, m_caret);
        std::wstring out;
        for (std::size_t line = from.line; line <= to.line && line < m_text.LineCount(); ++line) {
            const std::wstring text = Decoded(line);
            const int a = line == from.line ? from.ch : 0;
            const int b = line == to.line ? to.ch : static_cast<int>(text.size());
            out.append(text, static_cast<std::size_t>(std::min<int>(a, text.size())),
                       static_cast<std::size_t>(std::max(0, b - a)));
            if (line != to.line)
                out += L"\r\n";
        }
        return out;
    }

    void Paint();

    HWND m_hwnd;
    HFONT m_font = nullptr;
    int m_lineHeight = 16;
    afx::PaneText m_text;
    std::map<std::size_t, Laid> m_laid;
    int m_top = 0; // display row at the top of the view
    Pos m_anchor;
    Pos m_caret;
    bool m_dragging = false;
};

bool Pane::Copy() const {
    const std::wstring text = Selection();
    if (text.empty() || !::OpenClipboard(m_hwnd))
        return false;
    ::EmptyClipboard();
    const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, bytes);
    bool ok = false;
    if (memory) {
        std::memcpy(::GlobalLock(memory), text.c_str(), bytes);
        ::GlobalUnlock(memory);
        ok = ::SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
        if (!ok)
            ::GlobalFree(memory);
    }
    ::CloseClipboard();
    return ok;
}

void Pane::Paint() {
    PAINTSTRUCT ps;
    HDC target = ::BeginPaint(m_hwnd, &ps);
    RECT client{};
    ::GetClientRect(m_hwnd, &client);
    // Drawn off screen first, so that a repaint under traffic does not flicker.
    HDC dc = ::CreateCompatibleDC(target);
    HBITMAP bitmap = ::CreateCompatibleBitmap(target, std::max<int>(1, client.right),
                                              std::max<int>(1, client.bottom));
    HGDIOBJ oldBitmap = ::SelectObject(dc, bitmap);
    HGDIOBJ oldFont = ::SelectObject(dc, m_font ? m_font : ::GetStockObject(DEFAULT_GUI_FONT));
    const bool enabled = ::IsWindowEnabled(m_hwnd);
    ::FillRect(dc, &client, ::GetSysColorBrush(enabled ? COLOR_WINDOW : COLOR_BTNFACE));
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, ::GetSysColor(enabled ? COLOR_WINDOWTEXT : COLOR_GRAYTEXT));
    const Pos selFrom = std::min(m_anchor, m_caret);
    const Pos selTo = std::max(m_anchor, m_caret);
    const bool selecting = !(m_anchor == m_caret);
    const int rows = VisibleRows() + 1;
    for (int i = 0; i < rows && m_top + i < m_text.Rows(); ++i) {
        auto [line, row] = RowAt(m_top + i);
        const Laid& laid = LayoutOf(line);
        if (row >= static_cast<int>(laid.rowStarts.size()))
            continue;
        const int begin = laid.rowStarts[static_cast<std::size_t>(row)];
        const int end = row + 1 < static_cast<int>(laid.rowStarts.size())
                            ? laid.rowStarts[static_cast<std::size_t>(row + 1)]
                            : static_cast<int>(laid.text.size());
        const int y = kMargin + i * m_lineHeight;
        const wchar_t* text = laid.text.data() + begin;
        ::TextOutW(dc, kMargin, y, text, end - begin);
        if (!selecting || line < selFrom.line || line > selTo.line)
            continue;
        // The selected part of the row, drawn again in the selection's colours.
        int a = line == selFrom.line ? std::max(selFrom.ch, begin) : begin;
        int b = line == selTo.line ? std::min(selTo.ch, end) : end;
        const bool toBreak =
            line != selTo.line && row + 1 == static_cast<int>(laid.rowStarts.size());
        if (a > b || (a == b && !toBreak))
            continue;
        SIZE before{}, part{};
        ::GetTextExtentPoint32W(dc, text, a - begin, &before);
        ::GetTextExtentPoint32W(dc, laid.text.data() + a, b - a, &part);
        RECT r{kMargin + before.cx, y, kMargin + before.cx + part.cx + (toBreak ? 4 : 0),
               y + m_lineHeight};
        ::FillRect(dc, &r, ::GetSysColorBrush(COLOR_HIGHLIGHT));
        ::SetTextColor(dc, ::GetSysColor(COLOR_HIGHLIGHTTEXT));
        ::TextOutW(dc, r.left, y, laid.text.data() + a, b - a);
        ::SetTextColor(dc, ::GetSysColor(enabled ? COLOR_WINDOWTEXT : COLOR_GRAYTEXT));
    }
    ::BitBlt(target, 0, 0, client.right, client.bottom, dc, 0, 0, SRCCOPY);
    ::SelectObject(dc, oldFont);
    ::SelectObject(dc, oldBitmap);
    ::DeleteObject(bitmap);
    ::DeleteDC(dc);
    ::EndPaint(m_hwnd, &ps);
    Trim();
}

LRESULT Pane::Handle(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_SETFONT: {
        m_font = reinterpret_cast<HFONT>(wp);
        HDC dc = ::GetDC(m_hwnd);
        HGDIOBJ old = ::SelectObject(dc, m_font ? m_font : ::GetStockObject(DEFAULT_GUI_FONT));
        TEXTMETRICW tm{};
        ::GetTextMetricsW(dc, &tm);
        ::SelectObject(dc, old);
        ::ReleaseDC(m_hwnd, dc);
        m_lineHeight = std::max<int>(1, tm.tmHeight + tm.tmExternalLeading);
        m_laid.clear();
        m_text.ResetRows();
        UpdateRange();
        if (LOWORD(lp))
            ::InvalidateRect(m_hwnd, nullptr, FALSE);
        return 0;
    }
    case WM_GETFONT:
        return reinterpret_cast<LRESULT>(m_font);
    case WM_SIZE:
        m_laid.clear();
        m_text.ResetRows();
        UpdateRange();
        ::InvalidateRect(m_hwnd, nullptr, FALSE);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT:
        Paint();
        return 0;
    case WM_ENABLE:
        ::InvalidateRect(m_hwnd, nullptr, FALSE);
        return 0;
    case WM_GETDLGCODE:
        return DLGC_WANTARROWS | DLGC_WANTCHARS;
    case WM_VSCROLL: {
        SCROLLINFO si{sizeof si, SIF_TRACKPOS, 0, 0, 0, 0, 0};
        ::GetScrollInfo(m_hwnd, SB_VERT, &si);
        switch (LOWORD(wp)) {
        case SB_LINEUP:
            Scroll(-1);
            break;
        case SB_LINEDOWN:
            Scroll(1);
            break;
        case SB_PAGEUP:
            Scroll(-VisibleRows());
            break;
        case SB_PAGEDOWN:
            Scroll(VisibleRows());
            break;
        case SB_THUMBTRACK:
        case SB_THUMBPOSITION:
            ScrollTo(si.nTrackPos);
            break;
        case SB_TOP:
            ScrollTo(0);
            break;
        case SB_BOTTOM:
            ScrollTo(m_text.Rows());
            break;
        default:
            break;
        }
        return 0;
    }
    case WM_MOUSEWHEEL:
        Scroll(-3 * GET_WHEEL_DELTA_WPARAM(wp) / WHEEL_DELTA);
        return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
        ::SetFocus(m_hwnd);
        const Pos at = PosAt(static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp)));
        if (msg == WM_LBUTTONDBLCLK) {
            m_anchor = {at.line, 0};
            m_caret = {at.line, static_cast<int>(Decoded(at.line).size())};
        } else {
            m_caret = at;
            if (!(wp & MK_SHIFT))
                m_anchor = at;
            m_dragging = true;
            ::SetCapture(m_hwnd);
        }
        ::InvalidateRect(m_hwnd, nullptr, FALSE);
        return 0;
    }
    case WM_MOUSEMOVE:
        if (m_dragging) {
            const int y = static_cast<short>(HIWORD(lp));
            RECT r{};
            ::GetClientRect(m_hwnd, &r);
            if (y < 0)
                Scroll(-1);
            else if (y > r.bottom)
                Scroll(1);
            m_caret = PosAt(static_cast<short>(LOWORD(lp)), y);
            ::InvalidateRect(m_hwnd, nullptr, FALSE);
        }
        return 0;
    case WM_LBUTTONUP:
    case WM_CAPTURECHANGED:
        if (m_dragging) {
            m_dragging = false;
            if (msg == WM_LBUTTONUP)
                ::ReleaseCapture();
        }
        return 0;
    case WM_KEYDOWN: {
        const bool ctrl = ::GetKeyState(VK_CONTROL) < 0;
        if (ctrl && (wp == 'C' || wp == VK_INSERT))
            Copy();
        else if (ctrl && wp == 'A')
            SelectAll();
        else if (wp == VK_UP)
            Scroll(-1);
        else if (wp == VK_DOWN)
            Scroll(1);
        else if (wp == VK_PRIOR)
            Scroll(-VisibleRows());
        else if (wp == VK_NEXT)
            Scroll(VisibleRows());
        else if (wp == VK_HOME && ctrl)
            ScrollTo(0);
        else if (wp == VK_END && ctrl)
            ScrollTo(m_text.Rows());
        return 0;
    }
    case WM_CHAR:
        return 0; // the pane shows traffic; typing changes nothing
    case WM_COPY:
        Copy();
        return 0;
    case WM_CONTEXTMENU: {
        HMENU menu = ::CreatePopupMenu();
        ::AppendMenuW(menu, MF_STRING | (m_anchor == m_caret ? MF_GRAYED : 0), kCopyCommand,
                      L"\x590D\x5236(&C)");                                     // 复制
        ::AppendMenuW(menu, MF_STRING, kSelectAllCommand, L"\x5168\x9009(&A)"); // 全选
        POINT pt{static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))};
        if (pt.x == -1 && pt.y == -1) {
            pt = {0, 0};
            ::ClientToScreen(m_hwnd, &pt);
        }
        const UINT chosen = static_cast<UINT>(::TrackPopupMenu(
            menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, pt.x, pt.y, 0, m_hwnd, nullptr));
        ::DestroyMenu(menu);
        if (chosen == kCopyCommand)
            Copy();
        else if (chosen == kSelectAllCommand)
            SelectAll();
        return 0;
    }
    default:
        return ::DefWindowProcW(m_hwnd, msg, wp, lp);
    }
}

bool OfPaneClass(HWND hwnd) {
    wchar_t cls[32] = {};
    return hwnd && ::GetClassNameW(hwnd, cls, 32) && std::wcscmp(cls, kClassName) == 0;
}

Pane* PaneOf(HWND hwnd) {
    return OfPaneClass(hwnd) ? reinterpret_cast<Pane*>(::GetWindowLongPtrW(hwnd, 0)) : nullptr;
}

LRESULT CALLBACK PaneProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE)
        ::SetWindowLongPtrW(hwnd, 0, reinterpret_cast<LONG_PTR>(new Pane(hwnd)));
    auto* pane = reinterpret_cast<Pane*>(::GetWindowLongPtrW(hwnd, 0));
    if (msg == WM_NCDESTROY) {
        ::SetWindowLongPtrW(hwnd, 0, 0);
        delete pane;
        return ::DefWindowProcW(hwnd, msg, wp, lp);
    }
    return pane ? pane->Handle(msg, wp, lp) : ::DefWindowProcW(hwnd, msg, wp, lp);
}

} // namespace

bool RegisterPaneClass() {
    static const bool registered = [] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.style = CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW;
        wc.lpfnWndProc = PaneProc;
        wc.cbWndExtra = sizeof(LONG_PTR);
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.hCursor = ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32513)); // IDC_IBEAM
        wc.lpszClassName = kClassName;
        return ::RegisterClassExW(&wc) != 0;
    }();
    return registered;
}

bool IsPane(Hwnd wnd) {
    return PaneOf(wnd) != nullptr;
}

void PaneSetText(Hwnd pane, const CString& text) {
    if (Pane* p = PaneOf(pane))
        p->SetText(text);
}

void PaneSetBytes(Hwnd pane, const std::string& bytes) {
    if (Pane* p = PaneOf(pane))
        p->SetBytes(bytes);
}

std::string PaneBytes(Hwnd pane) {
    Pane* p = PaneOf(pane);
    return p ? p->Bytes() : std::string();
}

std::string PaneShownUtf8(Hwnd pane) {
    Pane* p = PaneOf(pane);
    return p ? p->ShownUtf8() : std::string();
}

int PaneLineCount(Hwnd pane) {
    Pane* p = PaneOf(pane);
    return p ? p->LineCount() : 1;
}

int PaneFirstVisibleLine(Hwnd pane) {
    Pane* p = PaneOf(pane);
    return p ? p->FirstVisibleLine() : 0;
}

void PaneScroll(Hwnd pane, int lines) {
    if (Pane* p = PaneOf(pane))
        p->Scroll(lines);
}

std::string PaneSelectionUtf8(Hwnd pane) {
    Pane* p = PaneOf(pane);
    return p ? p->SelectionUtf8() : std::string();
}

void PaneSelectAll(Hwnd pane) {
    if (Pane* p = PaneOf(pane))
        p->SelectAll();
}

bool PaneCopy(Hwnd pane) {
    Pane* p = PaneOf(pane);
    return p && p->Copy();
}

} // namespace w32
