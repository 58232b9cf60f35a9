// The headless backend's windows and controls: plain data, what a window would show kept in
// memory, nothing drawn. A handle points to one of these. Internal to the backend.
#pragma once

#include "app/framework/Afx.h"
#include "app/framework/TemplateItems.h"

#include <array>
#include <string>
#include <vector>

namespace afx::headless {

struct Control {
    // The dialog's own window counts as a static.
    using Kind = afx::ItemKind;

    Kind kind = Kind::Static;
    int id = 0;
    CDialog* owner = nullptr; // the dialog it belongs to (the dialog itself for its window)
    std::string text;         // not kept for a pane, which only a reader of a screen would need
    std::string tip;
    bool enabled = true;
    bool checked = false;
    bool error = false;
    bool shown = false;
    bool minimised = false;
    // A drop-down list: its items (in order when sorted) and the selection, -1 for none.
    std::vector<std::string> items;
    bool sorted = false;
    int selection = -1;
    // An address control: its four fields, -1 for a blank one.
    std::array<int, 4> fields{-1, -1, -1, -1};
};

inline Control* ControlOf(HWND hWnd) {
    return reinterpret_cast<Control*>(hWnd);
}
inline Control* ControlOf(const CWnd* wnd) {
    return wnd ? ControlOf(wnd->GetSafeHwnd()) : nullptr;
}
inline HWND HandleOf(Control* control) {
    return reinterpret_cast<HWND>(control);
}

} // namespace afx::headless
