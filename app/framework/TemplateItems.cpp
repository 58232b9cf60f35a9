#include "app/framework/TemplateItems.h"

namespace afx {

ItemKind KindOf(const res::DialogItem& item) {
    switch (item.cls) {
    case res::ControlClass::Button:
        switch (item.style & BS_TYPEMASK) {
        case BS_GROUPBOX:
            return ItemKind::GroupBox;
        case BS_AUTOCHECKBOX:
            return ItemKind::CheckBox;
        default:
            return ItemKind::PushButton;
        }
    case res::ControlClass::Edit:
        return (item.style & ES_MULTILINE) ? ItemKind::Pane : ItemKind::Edit;
    case res::ControlClass::Static:
        return (item.style & SS_TYPEMASK) == SS_ICON ? ItemKind::Icon : ItemKind::Static;
    case res::ControlClass::ComboBox:
        return ItemKind::ComboBox;
    case res::ControlClass::IpAddress:
        return ItemKind::Ip;
    }
    return ItemKind::Static;
}

int DefaultButtonOf(const res::DialogTemplate& tpl) {
    for (const res::DialogItem& item : tpl.items)
        if (item.cls == res::ControlClass::Button && (item.style & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
            return item.id;
    return 0;
}

} // namespace afx
