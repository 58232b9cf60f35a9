// Qt widgets behind the framework's windows and controls. Internal to the framework.
#pragma once

#include "app/framework/Afx.h"
#include "app/framework/qt/PaneEdit.h"
#include "app/framework/qt/QtWindow.h"

#include <QDialog>
#include <QFrame>

#include <array>
#include <string>

class QLineEdit;

namespace afx {

// The window of a CDialog. Esc, the close button and the accept key go to the dialog's command
// routing; a right click on the background opens the system menu.
class DialogWidget : public QDialog {
    Q_OBJECT
public:
    DialogWidget(CDialog* owner, QWidget* parent, Qt::WindowFlags flags);
    CDialog* Owner() const { return m_owner; }
    // Ends the dialog's loop (or hides a dialog that has none) without asking anybody.
    void Finish(int result);

protected:
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

public:
    void accept() override;
    void reject() override;

private:
    CDialog* m_owner;
    bool m_finishing = false;
};

// IPv4 address control: four fields of up to three digits separated by dots.
class IpAddressWidget : public QFrame {
    Q_OBJECT
public:
    explicit IpAddressWidget(QWidget* parent);
    int Address(DWORD& address) const;
    void SetAddress(DWORD address);
    void Clear();
    bool IsBlank() const;
    void SetText(const std::string& text);
    std::string Text() const;
    QLineEdit* Field(int i) const { return m_fields[static_cast<std::size_t>(i)]; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int FieldIndex(QObject* o) const;
    std::array<QLineEdit*, 4> m_fields{};
};

// Window text of any framework widget: UTF-8, or the bytes of a PaneEdit.
void SetWidgetText(QWidget* w, const std::string& text);
std::string WidgetText(const QWidget* w);

// The font that stands in for the templates' 9-point SimSun.
QFont DialogFont();

} // namespace afx
