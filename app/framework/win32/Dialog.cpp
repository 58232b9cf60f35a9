// Dialogs on Windows: real dialog windows from in-memory templates built from the data of res/,
// binding and the push, command routing, timers, watches and the system menu.
#include "app/framework/Afx.h"
#include "app/framework/DialogCore.h"
#include "app/framework/Hooks.h"
#include "app/framework/Internal.h"
#include "app/framework/win32/Native.h"
#include "res/Resources.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

// ---------------------------------------------------------------------------------------------
// The extended dialog template (DLGTEMPLATEEX and its DLGITEMTEMPLATEEX records).
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

struct TimerState {
    bool running = false;
    bool oneShot = false;
    unsigned ms = 0;          // the one-shot's wait
    unsigned handle = 0;      // the one-shot's multimedia timer
    std::uint32_t serial = 0; // of the one-shot last started
};

constexpr std::uint32_t kDelayed = 0x80000000u; // an event watch's call that was put off

struct WatchState {
    std::intptr_t socket = -1; // a socket's watch
    bool writable = false;
    void* event = nullptr; // an event's watch
    void* wait = nullptr;
    unsigned later = 0; // the multimedia timer of a call put off (see HostEvent)
    std::uint32_t serial = 0;
};

} // namespace

struct CDialog::Impl : CDialog::Core, w32::DialogHost {
    explicit Impl(CDialog* o) : owner(o) {}

    void HostCommand(int id) override { owner->OnCommand(id); }
    void HostSelChange(int id) override { owner->OnSelChange(id); }
    void HostSysCommand(unsigned id) override { owner->OnSysCommand(id, 0); }
    bool HostOwnsSysCommand(unsigned id) const override {
        if (id == SC_CLOSE || id == SC_MINIMIZE)
            return true;
        if (!sysMenu)
            return false;
        for (const CMenu::Item& item : sysMenu->Items())
            if (!(item.flags & MF_SEPARATOR) && (item.id & 0xFFF0u) == id)
                return true;
        return false;
    }
    void HostTimer(std::uintptr_t id) override {
        auto it = timers.find(id);
        if (it != timers.end() && it->second.running && !it->second.oneShot)
            owner->OnTimer(id);
    }
    void HostOneShot(std::uintptr_t id, std::uint32_t serial) override {
        auto it = timers.find(id);
        if (it == timers.end() || !it->second.running || !it->second.oneShot ||
            it->second.serial != serial)
            return; // stopped or started anew since
        it->second.running = false;
        it->second.handle = 0;
        owner->OnTimer(id);
    }
    void HostEvent(std::uintptr_t id, std::uint32_t message) override {
        // The waiter posts the watch's serial; a call put off (below) has kDelayed set.
        const std::uint32_t serial = message & ~kDelayed;
        auto it = watches.find(id);
        if (it == watches.end() || !it->second.event || it->second.serial != serial)
            return;
        w32::StopOneShot(it->second.later);
        it->second.later = 0;
        owner->OnWatch(id);
        it = watches.find(id);
        if (it == watches.end() || it->second.serial != serial)
            return;
        WatchState& watch = it->second;
        watch.serial = ++nextSerial;
        if (!w32::IsSignalled(watch.event)) {
            w32::ArmEventWait(watch.wait, watch.serial);
            // A call every 100 ms all the same, the polled mode's period, in case a wait that
            // should end never does (the window takes a call without news as a late one).
            watch.later = w32::StartDelayedEvent(hwnd, id, watch.serial | kDelayed, 100);
            return;
        }
        // Set again at once (a read that found its bytes already there ends as it starts): the
        // next call comes 1 ms later, so that an event nobody resets cannot keep the window busy.
        watch.later = w32::StartDelayedEvent(hwnd, id, watch.serial | kDelayed, 1);
        if (!watch.later)
            w32::ArmEventWait(watch.wait, watch.serial);
    }
    void HostSocket(std::intptr_t socket, bool readable, bool writable) override {
        std::vector<std::pair<UINT_PTR, std::uint32_t>> due;
        for (const auto& [id, watch] : watches)
            if (watch.socket == socket && (watch.writable ? writable : readable))
                due.emplace_back(id, watch.serial);
        for (const auto& [id, serial] : due)
            FireIfCurrent(id, serial);
    }
    void FireIfCurrent(UINT_PTR id, std::uint32_t serial) {
        auto it = watches.find(id);
        if (it != watches.end() && it->second.serial == serial)
            owner->OnWatch(id);
    }
    void SelectSocket(std::intptr_t socket) {
        bool readable = false;
        bool writable = false;
        for (const auto& [id, watch] : watches)
            if (watch.socket == socket)
                (watch.writable ? writable : readable) = true;
        if (hwnd)
            w32::SelectSocket(hwnd, socket, readable, writable);
    }

    CDialog* owner;
    HWND hwnd = nullptr;
    HWND ownerHwnd = nullptr;
    std::map<UINT_PTR, TimerState> timers;
    std::map<UINT_PTR, WatchState> watches;
    std::uint32_t nextSerial = 0;
    std::unique_ptr<CMenu> sysMenu;
    std::size_t sysMenuShown = 0; // items of sysMenu already in the window's menu
};

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd)
    : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd), m_pImpl(std::make_unique<Impl>(this)) {}

CDialog::~CDialog() {
    EndWatches();
    w32::DestroyDialog(m_pImpl->hwnd);
}

void CDialog::DoDataExchange(CDataExchange*) {}
void CDialog::BuildMessageMap(CMessageMap&) {}

bool CDialog::Build() {
    if (m_pImpl->hwnd)
        return true;
    const res::DialogTemplate* tpl = res::FindDialog(static_cast<int>(m_nIDTemplate));
    if (!tpl)
        return false;
    m_pImpl->tpl = tpl;
    HWND owner = m_pParentWnd ? m_pParentWnd->GetSafeHwnd() : nullptr;
    if (!owner && AfxGetApp() && AfxGetApp()->m_pMainWnd && AfxGetApp()->m_pMainWnd != this)
        owner = AfxGetApp()->m_pMainWnd->GetSafeHwnd();
    m_pImpl->ownerHwnd = owner;
    HWND dlg = w32::CreateDialogFromTemplate(BuildTemplate(*tpl), owner, m_pImpl.get());
    if (!dlg)
        return false;
    m_pImpl->hwnd = dlg;
    Attach(dlg, 0);
    if (tpl->style & WS_SYSMENU)
        m_pImpl->sysMenu = std::make_unique<CMenu>();
    m_pImpl->sysMenuShown = 0;

    const std::vector<HWND> children = w32::Children(dlg);
    for (std::size_t i = 0; i < tpl->items.size() && i < children.size(); ++i) {
        const res::DialogItem& item = tpl->items[i];
        auto handle = std::make_unique<CWnd>();
        handle->Attach(children[i], item.id);
        m_pImpl->items.push_back(std::move(handle));
        if (item.cls == res::ControlClass::Button && (item.style & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
            m_pImpl->defId = item.id;
    }
    if (m_pImpl->defId)
        w32::SetDefaultButton(dlg, m_pImpl->defId);
    BuildMessageMap(m_pImpl->map);
    return true;
}

void CDialog::RunInitialisation() {
    m_bEnded = false;
    m_nResult = 0;
    const res::DialogTemplate* tpl = m_pImpl->tpl;
    if (tpl->x == 0 && tpl->y == 0)
        w32::CentreOn(m_pImpl->hwnd, m_pImpl->ownerHwnd);
    const bool focusFirst = OnInitDialog();
    // Items added to the system menu during initialisation go into the window's own menu.
    if (m_pImpl->sysMenu) {
        const auto& items = m_pImpl->sysMenu->Items();
        for (; m_pImpl->sysMenuShown < items.size(); ++m_pImpl->sysMenuShown) {
            const CMenu::Item& item = items[m_pImpl->sysMenuShown];
            w32::AppendSystemMenu(m_pImpl->hwnd, static_cast<unsigned>(item.id),
                                  (item.flags & MF_SEPARATOR) ? nullptr : item.text.c_str());
        }
    }
    if (focusFirst) {
        for (std::size_t i = 0; i < m_pImpl->items.size(); ++i) {
            HWND w = m_pImpl->items[i]->GetSafeHwnd();
            if ((tpl->items[i].style & WS_TABSTOP) && w32::IsEnabled(w)) {
                w32::Focus(w);
                break;
            }
        }
    }
}

int CDialog::DoModal() {
    if (!Build())
        return -1;
    RunInitialisation();
    if (m_bEnded) {
        DestroyWindow();
        return m_nResult;
    }
    HWND dlg = m_pImpl->hwnd;
    HWND owner = m_pImpl->ownerHwnd;
    w32::ShowDialog(dlg, true);
    w32::EnableOwner(owner, false);
    if (auto hook = afx::g_modalHook) {
        w32::PostCall(dlg, [this, hook] {
            if (!m_bEnded)
                hook(*this);
        });
    }
    w32::RunLoop([this] { return m_bEnded; }, -1);
    w32::EnableOwner(owner, true);
    DestroyWindow();
    return m_nResult;
}

void CDialog::DestroyWindow() {
    // Like a destroyed window's, the control objects lose their controls; a later DoModal
    // builds and binds everything afresh.
    m_pImpl->Release();
    for (auto& [id, timer] : m_pImpl->timers)
        w32::StopOneShot(timer.handle);
    m_pImpl->timers.clear();
    EndWatches();
    m_pImpl->sysMenu.reset();
    w32::DestroyDialog(m_pImpl->hwnd);
    m_pImpl->hwnd = nullptr;
    Attach(nullptr, 0);
}

bool CDialog::Create() {
    if (!Build())
        return false;
    RunInitialisation();
    if (!m_bEnded)
        w32::ShowDialog(m_pImpl->hwnd, true);
    return true;
}

void CDialog::EndDialog(int nResult) {
    m_bEnded = true;
    m_nResult = nResult;
    for (auto& [id, timer] : m_pImpl->timers) {
        if (timer.running) {
            w32::StopTimer(m_pImpl->hwnd, id);
            w32::StopOneShot(timer.handle);
        }
        timer = {};
    }
    // A dialog without a loop of its own is hidden; a modal one is destroyed by its loop.
    if (m_pImpl->hwnd)
        w32::ShowDialog(m_pImpl->hwnd, false);
}

void CDialog::OnSysCommand(UINT nID, LPARAM) {
    switch (nID & 0xFFF0u) {
    case SC_MINIMIZE:
        if (m_pImpl->hwnd)
            w32::Minimise(m_pImpl->hwnd);
        break;
    case SC_CLOSE:
        OnCommand(IDCANCEL);
        break;
    default:
        break;
    }
}

CDialog::Core& CDialog::GetCore() const {
    return *m_pImpl;
}

bool CDialog::IsBuilt() const {
    return m_pImpl->hwnd != nullptr;
}
void CDialog::SetIcon(HICON hIcon, bool bBigIcon) {
    if (m_pImpl->hwnd && hIcon)
        w32::SetIcon(m_pImpl->hwnd, static_cast<int>(hIcon->id), bBigIcon);
}

CMenu* CDialog::GetSystemMenu(bool) {
    Build();
    return m_pImpl->sysMenu.get();
}

void CDialog::ShowSystemMenu() {
    if (m_pImpl->hwnd && !m_bEnded)
        w32::TrackSystemMenu(m_pImpl->hwnd, 0, 0, true);
}

void CDialog::ShowSystemMenu(int xScreen, int yScreen) {
    if (m_pImpl->hwnd && !m_bEnded)
        w32::TrackSystemMenu(m_pImpl->hwnd, xScreen, yScreen, false);
}

UINT_PTR CDialog::SetTimer(UINT_PTR nIDEvent, UINT nElapse) {
    if (!m_pImpl->hwnd || nIDEvent == 0)
        return 0;
    TimerState& timer = m_pImpl->timers[nIDEvent];
    w32::StopOneShot(timer.handle);
    timer = {};
    timer.running = true;
    w32::StartTimer(m_pImpl->hwnd, nIDEvent, std::max<UINT>(nElapse, 10));
    return nIDEvent;
}

UINT_PTR CDialog::SetOneShotTimer(UINT_PTR nIDEvent, UINT nElapse) {
    if (!m_pImpl->hwnd || nIDEvent == 0)
        return 0;
    TimerState& timer = m_pImpl->timers[nIDEvent];
    if (timer.running && !timer.oneShot)
        w32::StopTimer(m_pImpl->hwnd, nIDEvent);
    w32::StopOneShot(timer.handle);
    timer.running = true;
    timer.oneShot = true;
    timer.ms = std::max<UINT>(nElapse, 1);
    timer.serial = ++m_pImpl->nextSerial;
    timer.handle =
        w32::StartOneShot(m_pImpl->hwnd, nIDEvent, timer.serial, std::max<UINT>(nElapse, 1));
    return nIDEvent;
}

bool CDialog::KillTimer(UINT_PTR nIDEvent) {
    auto it = m_pImpl->timers.find(nIDEvent);
    if (it == m_pImpl->timers.end() || !it->second.running)
        return false;
    if (it->second.oneShot)
        w32::StopOneShot(it->second.handle);
    else
        w32::StopTimer(m_pImpl->hwnd, nIDEvent);
    it->second = {};
    return true;
}

bool CDialog::IsTimerRunning(UINT_PTR nIDEvent) const {
    auto it = m_pImpl->timers.find(nIDEvent);
    return it != m_pImpl->timers.end() && it->second.running;
}

void CDialog::OnWatch(UINT_PTR) {}

bool CDialog::WatchSocket(UINT_PTR nID, std::intptr_t socket, bool bWritable) {
    Unwatch(nID);
    if (!m_pImpl->hwnd || socket < 0)
        return false;
    WatchState& watch = m_pImpl->watches[nID];
    watch.socket = socket;
    watch.writable = bWritable;
    watch.serial = ++m_pImpl->nextSerial;
    m_pImpl->SelectSocket(socket);
    // The socket's notices come when its state changes; one that is ready already is told so.
    if (w32::SocketReady(socket, bWritable)) {
        const std::uint32_t serial = watch.serial;
        Impl* impl = m_pImpl.get();
        w32::PostCall(m_pImpl->hwnd, [impl, nID, serial] { impl->FireIfCurrent(nID, serial); });
    }
    return true;
}

bool CDialog::WatchEvent(UINT_PTR nID, void* hEvent) {
    Unwatch(nID);
    if (!m_pImpl->hwnd || !hEvent)
        return false;
    const std::uint32_t serial = ++m_pImpl->nextSerial;
    void* wait = w32::RegisterEventWait(m_pImpl->hwnd, hEvent, nID, serial);
    if (!wait)
        return false;
    WatchState& watch = m_pImpl->watches[nID];
    watch.event = hEvent;
    watch.wait = wait;
    watch.serial = serial;
    return true;
}

void CDialog::Unwatch(UINT_PTR nID) {
    auto it = m_pImpl->watches.find(nID);
    if (it == m_pImpl->watches.end())
        return;
    const WatchState watch = it->second;
    m_pImpl->watches.erase(it);
    if (watch.wait)
        w32::UnregisterEventWait(watch.wait);
    w32::StopOneShot(watch.later);
    if (watch.socket >= 0)
        m_pImpl->SelectSocket(watch.socket);
}

bool CDialog::IsWatching(UINT_PTR nID) const {
    return m_pImpl->watches.count(nID) != 0;
}

void CDialog::EndWatches() {
    while (!m_pImpl->watches.empty())
        Unwatch(m_pImpl->watches.begin()->first);
}

int CDialog::MessageBox(const std::string& text, const char* lpszCaption, UINT nType) {
    return afx::ShowMessageBox(m_pImpl->hwnd, text, lpszCaption, nType);
}

// ---------------------------------------------------------------------------------------------
void DDX_Text(CDataExchange* pDX, int nIDC, CString& value) {
    CWnd* item = pDX->m_pDlgWnd->GetDlgItem(nIDC);
    if (!item)
        return;
    if (pDX->m_bSaveAndValidate)
        value = item->GetWindowText();
    else if (w32::IsPane(item->GetSafeHwnd()))
        w32::PaneSetText(item->GetSafeHwnd(), value);
    else
        item->SetWindowText(value.Str());
}

void DDX_Text(CDataExchange* pDX, int nIDC, std::string& value) {
    CWnd* item = pDX->m_pDlgWnd->GetDlgItem(nIDC);
    if (!item)
        return;
    if (pDX->m_bSaveAndValidate)
        value = item->GetWindowText();
    else
        item->SetWindowText(value);
}
