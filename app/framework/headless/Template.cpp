// Dialogs from the templates of res/ as data: the window and its controls with their texts,
// styles and lists, no layout.
#include "app/framework/IpAddressText.h"
#include "app/framework/headless/DialogImpl.h"
#include "res/Resources.h"

using afx::headless::Control;

namespace {

Control::Kind KindOf(const res::DialogItem& item) {
    switch (item.cls) {
    case res::ControlClass::Button:
        switch (item.style & BS_TYPEMASK) {
        case BS_GROUPBOX:
            return Control::Kind::GroupBox;
        case BS_AUTOCHECKBOX:
            return Control::Kind::CheckBox;
        default:
            return Control::Kind::PushButton;
        }
    case res::ControlClass::Edit:
        return (item.style & ES_MULTILINE) ? Control::Kind::Pane : Control::Kind::Edit;
    case res::ControlClass::Static:
        return Control::Kind::Static;
    case res::ControlClass::ComboBox:
        return Control::Kind::ComboBox;
    case res::ControlClass::IpAddress:
        return Control::Kind::Ip;
    }
    return Control::Kind::Static;
}

} // namespace

HWND CDialog::Core::MakeWindow(const res::DialogTemplate& tpl, HWND) {
    impl->window = std::make_unique<Control>();
    impl->window->owner = owner;
    impl->window->text = tpl.caption;
    return afx::headless::HandleOf(impl->window.get());
}

void CDialog::Core::BuildControls(const res::DialogTemplate& tpl) {
    for (const res::DialogItem& item : tpl.items) {
        auto control = std::make_unique<Control>();
        control->kind = KindOf(item);
        control->id = item.id;
        control->owner = owner;
        control->enabled = !(item.style & WS_DISABLED);
        control->sorted = item.cls == res::ControlClass::ComboBox && (item.style & CBS_SORT);
        if (control->kind == Control::Kind::Ip)
            control->fields = afx::ParseAddressFields(item.text);
        else if (control->kind != Control::Kind::Pane &&
                 !(item.cls == res::ControlClass::Static && (item.style & SS_TYPEMASK) == SS_ICON))
            control->text = item.text;
        if (control->kind == Control::Kind::PushButton &&
            (item.style & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
            defId = item.id;
        auto handle = std::make_unique<CWnd>();
        handle->Attach(afx::headless::HandleOf(control.get()), item.id);
        items.push_back(std::move(handle));
        impl->controls.push_back(std::move(control));
    }
}
