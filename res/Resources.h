// The resources of Varnel as data: the two dialog templates (dialog units), the list items of the
// main dialog, the string table, the version record and the icon images.
#pragma once

#include "res/WinRes.h"

#include <cstdint>
#include <string>
#include <vector>

namespace res {

// Window class of a dialog item; the style picks the kind within the class (push button, check
// box or group box; label or icon).
enum class ControlClass { Button, Edit, Static, ComboBox, IpAddress };

struct DialogItem {
    ControlClass cls;
    int id; // 65535 for items that code never addresses
    std::uint32_t style;
    const char* text;
    int x, y, cx, cy; // dialog units
};

// Initialisation data: strings added to a list control, in this order, when the dialog opens.
struct ListInit {
    int id;
    std::vector<const char*> items;
};

struct DialogTemplate {
    int id;
    std::uint32_t style;
    std::uint32_t exStyle;
    const char* caption;
    int x, y, cx, cy; // dialog units
    const char* fontFace;
    int pointSize;
    std::vector<DialogItem> items; // template order, which is also the tab order
    std::vector<ListInit> init;
};

// The template of a dialog, or nullptr when there is none with that id.
const DialogTemplate* FindDialog(int id);

// The string of the string table, or nullptr when there is none with that id.
const char* FindString(int id);

// File and product version, and its text "1.0.0.1".
struct VersionInfo {
    std::uint16_t major, minor, patch, build;
};
inline constexpr VersionInfo kVersion{1, 0, 0, 1};
std::string VersionText();

// Paths of the images of an icon in the application's resources, smallest first; empty when
// there is no icon with that id.
std::vector<std::string> IconImagePaths(int id);

} // namespace res
