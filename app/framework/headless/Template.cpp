// Dialogs from the templates of res/ as data: the window and its controls with their texts,
// styles and lists, no layout.
#include "app/framework/IpAddressText.h"
#include "app/framework/TemplateItems.h"
#include "app/framework/headless/DialogImpl.h"
#include "res/Resources.h"

using afx::headless::Control;

HWND CDialog::Core::MakeWindow(const res::DialogTemplate& tpl, HWND) {
    impl->window = std::make_unique<Control>();
    impl->window->owner = owner;
    impl->window->text = tpl.caption;
    return afx::headless::HandleOf(impl->window.get());
}

void CDialog::Core::BuildControls(const res::DialogTemplate& tpl) {
    for (const res::DialogItem& item : tpl.items) {
        auto control = std::make_unique<Control>();
        control->kind = afx::KindOf(item);
        control->id = item.id;
        control->owner = owner;
        control->enabled = !(item.style & WS_DISABLED);
        control->sorted = item.cls == res::ControlClass::ComboBox && (item.style & CBS_SORT);
        if (control->kind == Control::Kind::Ip)
            control->fields = afx::ParseAddressFields(item.text);
        else if (control->kind != Control::Kind::Pane && control->kind != Control::Kind::Icon)
            control->text = item.text;
        auto handle = std::make_unique<CWnd>();
        handle->Attach(afx::headless::HandleOf(control.get()), item.id);
        items.push_back(std::move(handle));
        impl->controls.push_back(std::move(control));
    }
}
