// Dialogs on Windows from the templates of res/: an extended dialog template (DLGTEMPLATEEX and
// its DLGITEMTEMPLATEEX records) built in memory, made into a real dialog with its controls.
#include "app/framework/win32/DialogImpl.h"
#include "res/Resources.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace {

class TemplateWriter {
public:
    void Word(std::uint16_t w) {
        m_bytes.push_back(static_cast<std::uint8_t>(w));
        m_bytes.push_back(static_cast<std::uint8_t>(w >> 8));
    }
    void Dword(std::uint32_t d) {
        Word(static_cast<std::uint16_t>(d));
        Word(static_cast<std::uint16_t>(d >> 16));
    }
    void Short(int v) { Word(static_cast<std::uint16_t>(static_cast<std::int16_t>(v))); }
    void Byte(std::uint8_t b) { m_bytes.push_back(b); }
    void Text(const std::string& utf8) {
        for (std::uint16_t c : w32::Utf16(utf8))
            Word(c);
        Word(0);
    }
    void Ordinal(std::uint16_t ord) {
        Word(0xFFFF);
        Word(ord);
    }
    void AlignDword() {
        while (m_bytes.size() % 4)
            m_bytes.push_back(0);
    }
    std::vector<std::uint8_t>& Bytes() { return m_bytes; }

private:
    std::vector<std::uint8_t> m_bytes;
};

constexpr std::uint32_t kSsNotify = 0x0100;       // statics report clicks (and get tooltips)
constexpr std::uint32_t kWsExClientEdge = 0x0200; // the sunken edge of edits
constexpr std::uint16_t kGb2312Charset = 134;

std::vector<std::uint8_t> BuildTemplate(const res::DialogTemplate& tpl) {
    TemplateWriter w;
    w.Word(1);      // dlgVer
    w.Word(0xFFFF); // signature
    w.Dword(0);     // helpID
    w.Dword(tpl.exStyle);
    // Shown by the dialog object once it has initialised.
    w.Dword((tpl.style | DS_SETFONT) & ~WS_VISIBLE);
    w.Word(static_cast<std::uint16_t>(tpl.items.size()));
    w.Short(tpl.x);
    w.Short(tpl.y);
    w.Short(tpl.cx);
    w.Short(tpl.cy);
    w.Word(0); // no menu
    w.Word(0); // the dialog class
    w.Text(tpl.caption);
    w.Word(static_cast<std::uint16_t>(tpl.pointSize));
    w.Word(400); // weight
    w.Byte(0);   // italic
    w.Byte(static_cast<std::uint8_t>(kGb2312Charset));
    w.Text(tpl.fontFace);
    for (const res::DialogItem& item : tpl.items) {
        w.AlignDword();
        std::uint32_t style = item.style;
        std::uint32_t exStyle = 0;
        if (item.cls == res::ControlClass::Static && (style & SS_TYPEMASK) != SS_ICON)
            style |= kSsNotify;
        if (item.cls == res::ControlClass::Edit && (style & WS_BORDER)) {
            style &= ~WS_BORDER;
            exStyle |= kWsExClientEdge;
        }
        if (item.cls == res::ControlClass::IpAddress)
            style |= WS_CHILD | WS_VISIBLE;
        w.Dword(0); // helpID
        w.Dword(exStyle);
        w.Dword(style);
        w.Short(item.x);
        w.Short(item.y);
        w.Short(item.cx);
        w.Short(item.cy);
        w.Dword(static_cast<std::uint32_t>(item.id));
        switch (item.cls) {
        case res::ControlClass::Button:
            w.Ordinal(0x0080);
            break;
        case res::ControlClass::Edit:
            if (style & ES_MULTILINE)
                w.Text("VarnelPane");
            else
                w.Ordinal(0x0081);
            break;
        case res::ControlClass::Static:
            w.Ordinal(0x0082);
            break;
        case res::ControlClass::ComboBox:
            w.Ordinal(0x0085);
            break;
        case res::ControlClass::IpAddress:
            w.Text("SysIPAddress32");
            break;
        }
        if (item.cls == res::ControlClass::Static && (style & SS_TYPEMASK) == SS_ICON)
            w.Ordinal(static_cast<std::uint16_t>(std::atoi(item.text)));
        else if (item.cls == res::ControlClass::IpAddress)
            w.Text("");
        else
            w.Text(item.text);
        w.Word(0); // no creation data
    }
    return std::move(w.Bytes());
}

} // namespace

HWND CDialog::Core::MakeWindow(const res::DialogTemplate& tpl, HWND ownerWindow) {
    impl->ownerHwnd = ownerWindow;
    impl->hwnd = w32::CreateDialogFromTemplate(BuildTemplate(tpl), ownerWindow, impl.get());
    impl->sysMenuShown = 0;
    return impl->hwnd;
}

void CDialog::Core::BuildControls(const res::DialogTemplate& tpl) {
    const std::vector<HWND> children = w32::Children(impl->hwnd);
    for (std::size_t i = 0; i < tpl.items.size() && i < children.size(); ++i) {
        const res::DialogItem& item = tpl.items[i];
        auto handle = std::make_unique<CWnd>();
        handle->Attach(children[i], item.id);
        items.push_back(std::move(handle));
    }
    if (defId)
        w32::SetDefaultButton(impl->hwnd, defId);
}
