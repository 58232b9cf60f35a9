// Operations of windows and control objects.
#include "app/framework/Afx.h"
#include "app/framework/qt/QtWindow.h"
#include "app/framework/qt/Widgets.h"

#include <QAbstractButton>
#include <QColor>
#include <QComboBox>
#include <QLineEdit>
#include <QPalette>

using afx::IpAddressWidget;
using afx::PaneEdit;

void CWnd::EnableWindow(bool bEnable) {
    if (afx::WidgetOf(m_hWnd))
        afx::WidgetOf(m_hWnd)->setEnabled(bEnable);
}

bool CWnd::IsWindowEnabled() const {
    return afx::WidgetOf(m_hWnd) && afx::WidgetOf(m_hWnd)->isEnabled();
}

void CWnd::SetWindowText(const std::string& text) {
    afx::SetWidgetText(afx::WidgetOf(m_hWnd), text);
}

std::string CWnd::GetWindowText() const {
    return afx::WidgetText(afx::WidgetOf(m_hWnd));
}

void CWnd::SetToolTipText(const std::string& text) {
    if (afx::WidgetOf(m_hWnd))
        afx::WidgetOf(m_hWnd)->setToolTip(
            QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

std::string CWnd::GetToolTipText() const {
    return afx::WidgetOf(m_hWnd) ? afx::WidgetOf(m_hWnd)->toolTip().toStdString() : std::string();
}

namespace {

// The error colour of a palette: a dark red on a light window, a light red on a dark one.
QColor ErrorColour(const QPalette& palette) {
    return palette.color(QPalette::Window).lightness() >= 128 ? QColor(0xC0, 0x10, 0x10)
                                                              : QColor(0xFF, 0x70, 0x70);
}

} // namespace

void CWnd::SetErrorColour(bool bError) {
    if (!afx::WidgetOf(m_hWnd))
        return;
    if (!bError) {
        afx::WidgetOf(m_hWnd)->setPalette(QPalette()); // back to the palette it inherits
        return;
    }
    QPalette palette = afx::WidgetOf(m_hWnd)->palette();
    palette.setColor(QPalette::WindowText, ErrorColour(palette));
    afx::WidgetOf(m_hWnd)->setPalette(palette);
}

bool CWnd::HasErrorColour() const {
    return afx::WidgetOf(m_hWnd) && afx::WidgetOf(m_hWnd)->palette().color(QPalette::WindowText) ==
                                        ErrorColour(afx::WidgetOf(m_hWnd)->palette());
}

void CWnd::SetFocus() {
    if (afx::WidgetOf(m_hWnd))
        afx::WidgetOf(m_hWnd)->setFocus(Qt::OtherFocusReason);
}

bool CWnd::IsIconic() const {
    return afx::WidgetOf(m_hWnd) && afx::WidgetOf(m_hWnd)->window()->isMinimized();
}

// ---------------------------------------------------------------------------------------------
int CButton::GetCheck() const {
    auto* b = qobject_cast<QAbstractButton*>(afx::WidgetOf(m_hWnd));
    return b && b->isChecked() ? BST_CHECKED : BST_UNCHECKED;
}

void CButton::SetCheck(int nCheck) {
    if (auto* b = qobject_cast<QAbstractButton*>(afx::WidgetOf(m_hWnd)))
        b->setChecked(nCheck != BST_UNCHECKED);
}

// ---------------------------------------------------------------------------------------------
int CEdit::GetLineCount() const {
    auto* pane = qobject_cast<PaneEdit*>(afx::WidgetOf(m_hWnd));
    return pane ? pane->LineCount() : 1;
}

int CEdit::GetFirstVisibleLine() const {
    auto* pane = qobject_cast<PaneEdit*>(afx::WidgetOf(m_hWnd));
    return pane ? pane->FirstVisibleLine() : 0;
}

void CEdit::LineScroll(int nLines, int /*nChars*/) {
    if (auto* pane = qobject_cast<PaneEdit*>(afx::WidgetOf(m_hWnd)))
        pane->ScrollLines(nLines);
}

// ---------------------------------------------------------------------------------------------
int CComboBox::GetCurSel() const {
    auto* c = qobject_cast<QComboBox*>(afx::WidgetOf(m_hWnd));
    return c ? c->currentIndex() : CB_ERR;
}

int CComboBox::SetCurSel(int nSelect) {
    auto* c = qobject_cast<QComboBox*>(afx::WidgetOf(m_hWnd));
    if (!c)
        return CB_ERR;
    if (nSelect < 0 || nSelect >= c->count()) {
        c->setCurrentIndex(-1);
        c->setEditText(QString());
        return CB_ERR;
    }
    c->setCurrentIndex(nSelect);
    c->setEditText(c->itemText(nSelect));
    return nSelect;
}

int CComboBox::GetCount() const {
    auto* c = qobject_cast<QComboBox*>(afx::WidgetOf(m_hWnd));
    return c ? c->count() : 0;
}

int CComboBox::AddString(const std::string& text) {
    auto* c = qobject_cast<QComboBox*>(afx::WidgetOf(m_hWnd));
    if (!c)
        return CB_ERR;
    const QString s = QString::fromStdString(text);
    int at = c->count();
    if (c->property("afxSorted").toBool()) {
        at = 0;
        while (at < c->count() && QString::compare(c->itemText(at), s, Qt::CaseInsensitive) <= 0)
            ++at;
    }
    // Adding items must not change what the field shows.
    const QString field = c->currentText();
    const int sel = c->currentIndex();
    c->insertItem(at, s);
    if (sel < 0) {
        c->setCurrentIndex(-1);
        c->setEditText(field);
    }
    return at;
}

void CComboBox::GetLBText(int nIndex, std::string& text) const {
    auto* c = qobject_cast<QComboBox*>(afx::WidgetOf(m_hWnd));
    text = c && nIndex >= 0 && nIndex < c->count() ? c->itemText(nIndex).toStdString() : "";
}

void CComboBox::ResetContent() {
    if (auto* c = qobject_cast<QComboBox*>(afx::WidgetOf(m_hWnd))) {
        c->clear();
        c->setEditText(QString());
    }
}

// ---------------------------------------------------------------------------------------------
int CIPAddressCtrl::GetAddress(DWORD& dwAddress) const {
    auto* ip = qobject_cast<IpAddressWidget*>(afx::WidgetOf(m_hWnd));
    dwAddress = 0;
    return ip ? ip->Address(dwAddress) : 0;
}

void CIPAddressCtrl::SetAddress(DWORD dwAddress) {
    if (auto* ip = qobject_cast<IpAddressWidget*>(afx::WidgetOf(m_hWnd)))
        ip->SetAddress(dwAddress);
}

void CIPAddressCtrl::ClearAddress() {
    if (auto* ip = qobject_cast<IpAddressWidget*>(afx::WidgetOf(m_hWnd)))
        ip->Clear();
}

bool CIPAddressCtrl::IsBlank() const {
    auto* ip = qobject_cast<IpAddressWidget*>(afx::WidgetOf(m_hWnd));
    return !ip || ip->IsBlank();
}
