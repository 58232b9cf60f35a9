// The window framework the bridge is written against: an application object, modal dialogs built
// from the templates of res/, control objects bound to the dialog's controls, the push of text
// members into their controls, window timers by id, message boxes, the system menu and icons.
// Each platform has a backend of its own (qt/ on Linux, win32/ on Windows); nothing of either
// shows through this header. A window is named by an opaque handle that only the backend reads.
//
// Text: every text passed here is UTF-8, except the text of a multi-line edit, which is 8-bit
// text in code page 936: its bytes are kept as they are and only decoded (as GB18030) for
// drawing, so traffic bytes pass through the panes unchanged.
#pragma once

#include "app/framework/String.h"
#include "res/WinRes.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

// Opaque handle of a window; what it points to belongs to the backend.
struct HWND__;
using HWND = HWND__*;

using UINT = unsigned int;
using DWORD = std::uint32_t;
using BYTE = std::uint8_t;
using UINT_PTR = std::uintptr_t;
using LPARAM = std::intptr_t;

inline constexpr int BST_UNCHECKED = 0;
inline constexpr int BST_CHECKED = 1;
inline constexpr int CB_ERR = -1;

class CDialog;

// Handle of an icon resource; valid for the life of the process.
struct IconResource {
    UINT id;
};
using HICON = const IconResource*;

// ---------------------------------------------------------------------------------------------
// Menus: the system-menu stand-in. Items are kept as data; the menu is built when it opens.
class CMenu {
public:
    struct Item {
        UINT flags;
        UINT_PTR id;
        std::string text;
    };
    bool AppendMenu(UINT nFlags, UINT_PTR nIDNewItem = 0, const char* lpszNewItem = nullptr);
    // Puts a check mark on the item (MF_CHECKED) or takes it off (MF_UNCHECKED); returns the
    // item's previous state, or 0xFFFFFFFF when there is no such item.
    UINT CheckMenuItem(UINT nIDCheckItem, UINT nCheck);
    int GetMenuItemCount() const { return static_cast<int>(m_items.size()); }
    const std::vector<Item>& Items() const { return m_items; }
    // The window whose system menu this is (set by the framework).
    void SetOwner(HWND hOwner) { m_hOwner = hOwner; }

private:
    std::vector<Item> m_items;
    HWND m_hOwner = nullptr;
};

// ---------------------------------------------------------------------------------------------
// A window: a dialog or one of its controls. A control object is attached to its control by the
// dialog's binding (DDX_Control); before that its operations do nothing and return empty values.
class CWnd {
public:
    CWnd() = default;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;
    virtual ~CWnd() = default;

    HWND GetSafeHwnd() const { return m_hWnd; }
    int GetDlgCtrlID() const { return m_nID; }

    void EnableWindow(bool bEnable = true);
    bool IsWindowEnabled() const;
    void SetWindowText(const std::string& text);
    std::string GetWindowText() const;
    void GetWindowText(std::string& text) const { text = GetWindowText(); }
    void GetWindowText(CString& text) const { text = GetWindowText(); }
    // The text shown while the pointer rests on the window; empty removes it.
    void SetToolTipText(const std::string& text);
    std::string GetToolTipText() const;
    // Draws the window's text in the palette's error colour (a red that reads on the window's
    // background), or again in its usual colour.
    void SetErrorColour(bool bError);
    bool HasErrorColour() const;
    void SetFocus();
    bool IsIconic() const;

    void Attach(HWND hWnd, int id);

protected:
    HWND m_hWnd = nullptr;
    int m_nID = 0;
};

class CButton : public CWnd {
public:
    int GetCheck() const;
    void SetCheck(int nCheck); // 0 clears; any other value ticks
};

class CStatic : public CWnd {};

// Single-line or multi-line edit.
class CEdit : public CWnd {
public:
    int GetLineCount() const;        // display lines (wrapped lines count), at least 1
    int GetFirstVisibleLine() const; // display line at the top of the view
    void LineScroll(int nLines, int nChars = 0);
};

// Drop-down combo box: an editable field with a list.
class CComboBox : public CWnd {
public:
    int GetCurSel() const; // -1 when nothing is selected
    // Selects the item and shows its text in the field; an index outside the list clears the
    // selection and the field and returns CB_ERR. Raises no selection-change notification.
    int SetCurSel(int nSelect);
    int GetCount() const;
    int AddString(const std::string& text); // sorted lists insert in order
    void GetLBText(int nIndex, std::string& text) const;
    void ResetContent();
};

// IPv4 address control: four fields of 0 to 255.
class CIPAddressCtrl : public CWnd {
public:
    // The address with the first field in the high byte, blank fields as 0; returns the number of
    // fields that are not blank.
    int GetAddress(DWORD& dwAddress) const;
    int GetAddress(BYTE& f0, BYTE& f1, BYTE& f2, BYTE& f3) const;
    void SetAddress(DWORD dwAddress);
    void ClearAddress();
    bool IsBlank() const;
};

// ---------------------------------------------------------------------------------------------
// Binding.
class CDataExchange {
public:
    CDataExchange(CDialog* pDlgWnd, bool bSaveAndValidate)
        : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}
    bool m_bSaveAndValidate; // false: members to controls (the push)
    CDialog* m_pDlgWnd;
};

// Attaches the control object to the dialog's control nIDC on the first exchange.
void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl);
// Exchanges the whole text of control nIDC with the member. Writing a multi-line edit whose
// member only grew since the last exchange appends just the new text.
void DDX_Text(CDataExchange* pDX, int nIDC, std::string& value);
// The same for a CString member; a multi-line edit then follows the member's change account, so
// the push costs what changed, not what the member holds.
void DDX_Text(CDataExchange* pDX, int nIDC, CString& value);

// Routing of control notifications to handlers, filled by the message-map macros.
class CMessageMap {
public:
    void OnClicked(int id, std::function<void()> handler) { m_clicked[id] = std::move(handler); }
    void OnSelChange(int id, std::function<void()> handler) {
        m_selChange[id] = std::move(handler);
    }
    const std::function<void()>* Clicked(int id) const;
    const std::function<void()>* SelChange(int id) const;

private:
    std::map<int, std::function<void()>> m_clicked;
    std::map<int, std::function<void()>> m_selChange;
};

#define DECLARE_MESSAGE_MAP()                                                                      \
protected:                                                                                         \
    void BuildMessageMap(CMessageMap& map) override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                                     \
    void theClass::BuildMessageMap(CMessageMap& map) {                                             \
        baseClass::BuildMessageMap(map);
#define ON_BN_CLICKED(id, memberFxn) map.OnClicked(id, [this] { memberFxn(); });
#define ON_CBN_SELCHANGE(id, memberFxn) map.OnSelChange(id, [this] { memberFxn(); });
#define END_MESSAGE_MAP() }

// ---------------------------------------------------------------------------------------------
// A dialog built from a template of res/.
class CDialog : public CWnd {
public:
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
    ~CDialog() override;

    UINT GetTemplateID() const { return m_nIDTemplate; }

    // Builds the window, initialises it (OnInitDialog), shows it and runs a nested message loop
    // until EndDialog; returns the value given to EndDialog.
    virtual int DoModal();
    // Builds, initialises and shows the window without a loop of its own (the caller's loop
    // serves it). Returns false if the template does not exist.
    bool Create();
    void EndDialog(int nResult);
    bool IsEnded() const { return m_bEnded; }
    int GetResult() const { return m_nResult; }

    bool UpdateData(bool bSaveAndValidate);
    CWnd* GetDlgItem(int nID) const;

    void SetIcon(HICON hIcon, bool bBigIcon);
    CMenu* GetSystemMenu(bool bRevert);
    // Opens the system menu at the window's top-left corner, or at a point of the screen; the
    // chosen item arrives at OnSysCommand.
    void ShowSystemMenu();
    void ShowSystemMenu(int xScreen, int yScreen);

    UINT_PTR SetTimer(UINT_PTR nIDEvent, UINT nElapse);
    // A timer that fires once, nElapse milliseconds from now (at least 1, where SetTimer's least
    // is 10); setting it again before it fired starts the wait anew. KillTimer stops it.
    UINT_PTR SetOneShotTimer(UINT_PTR nIDEvent, UINT nElapse);
    bool KillTimer(UINT_PTR nIDEvent);
    bool IsTimerRunning(UINT_PTR nIDEvent) const;

    // Watches, for a window that waits on its sources instead of polling them: OnWatch(nID)
    // runs on the window's thread while the socket is readable (with bWritable: writable), or
    // after the event (see AfxSetEventListener) was set (several sets before the call may
    // make one call). A watch of an id in use replaces the old one. After Unwatch returns, no
    // call for the watch comes any more. Ending the window ends its watches.
    bool WatchSocket(UINT_PTR nID, std::intptr_t socket, bool bWritable = false);
    bool WatchEvent(UINT_PTR nID, void* hEvent);
    void Unwatch(UINT_PTR nID);
    bool IsWatching(UINT_PTR nID) const;

    // A message box owned by this window; nullptr caption shows the application's title.
    int MessageBox(const std::string& text, const char* lpszCaption = nullptr, UINT nType = MB_OK);

    // Handlers and the routing of commands; the overrides call these for the default handling.
    virtual bool OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    virtual void OnSysCommand(UINT nID, LPARAM lParam);
    virtual void OnTimer(UINT_PTR nIDEvent);
    virtual void OnWatch(UINT_PTR nID);
    void OnCommand(int nID);   // a click on button nID, or the accept/cancel command
    void OnSelChange(int nID); // the user changed the selection of list nID
    int GetDefID() const;      // the default push button, 0 when there is none

protected:
    virtual void DoDataExchange(CDataExchange* pDX);
    virtual void BuildMessageMap(CMessageMap& map);

private:
    friend void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl);
    struct Core; // what every backend keeps alike, and the backend's hooks (DialogCore.h)
    struct Impl; // the backend's own, kept by Core
    Core& GetCore() const;
    Impl& GetImpl() const;
    bool IsBuilt() const; // the backend's window exists
    bool Build();
    void RunInitialisation();
    void DestroyWindow();
    void EndWatches();

    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;
    std::unique_ptr<Core> m_pCore;
    bool m_bEnded = false;
    int m_nResult = 0;
};

// ---------------------------------------------------------------------------------------------
// The application object. Exactly one exists; it is constructed before main runs.
class CWinApp {
public:
    explicit CWinApp(const char* lpszAppName = nullptr);
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;
    virtual ~CWinApp();

    // Start-up hook, called once by AfxWinMain; returning false ends the application.
    virtual bool InitInstance();
    virtual int ExitInstance();
    HICON LoadIcon(UINT nIDResource) const;

    CWnd* m_pMainWnd = nullptr;
    std::string m_strAppName;
};

CWinApp* AfxGetApp();
const char* AfxGetAppName();
// Text of the string table, empty when there is none with that id.
std::string AfxLoadString(UINT nID);
// A message box without owner, captioned with the application's title.
int AfxMessageBox(const std::string& text, UINT nType = MB_OK);
int AfxMessageBox(UINT nIDPrompt, UINT nType = MB_OK);
// Start-up of the socket library; false when it failed.
bool AfxSocketInit();
// What tells a dialog that an event it watches (WatchEvent) was set, where the window cannot wait
// on the event itself: it calls notify, on any thread, after every set of hEvent until it is
// called again with an empty notify, and returns false when hEvent is not an event it knows. The
// application hands it in at start-up; on Windows the window waits on the events and needs none.
using EventListener = bool (*)(void* hEvent, std::function<void()> notify);
void AfxSetEventListener(EventListener listener);
// The program's entry: creates the GUI, runs the application object's InitInstance and, if that
// returns true, a message loop until the last window closes.
int AfxWinMain(int argc, char** argv);
