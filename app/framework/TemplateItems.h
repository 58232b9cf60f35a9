// What a template's item is, as every backend builds it: the kind of control its class and style
// make, and which push button is the default one.
#pragma once

#include "res/Resources.h"

namespace afx {

enum class ItemKind { PushButton, CheckBox, GroupBox, Edit, Pane, Static, Icon, ComboBox, Ip };

ItemKind KindOf(const res::DialogItem& item);

// The id of the template's default push button, 0 when it has none.
int DefaultButtonOf(const res::DialogTemplate& tpl);

} // namespace afx
