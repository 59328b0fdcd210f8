#pragma once
// The module's network settings: those the register image holds beside
// fields for new ones, checked as they are typed with the reason beside a
// field that fails. The dialog sends nothing: Write (enabled only while
// every field passes) accepts it, and Settings() gives what to write.
#include "NetSettings.h"

#include <QDialog>
#include <array>

class QLabel;
class QLineEdit;
class QPushButton;

namespace ui {

class TNetworkDialog : public QDialog {
    Q_OBJECT
public:
    explicit TNetworkDialog(const core::NetSettings &current, QWidget *parent = nullptr);

    // What the fields hold; all of it valid while Write is enabled.
    const core::NetSettings &Settings() const { return m_settings; }
    const core::NetCheck &Check() const { return m_check; }

    // New values, in core::NetField order: IP, mask, gateway, port.
    QLineEdit *edNewIP;
    QLineEdit *edNewMask;
    QLineEdit *edNewGateway;
    QLineEdit *edNewPort;
    // Why the field beside it fails; empty when it passes.
    std::array<QLabel *, core::NetFieldCount> labReasons;
    QLabel *labWarning; // the loopback warning
    QLabel *labNew;     // the new settings in one line, or "Not yet valid."
    QPushButton *btnWrite;
    QPushButton *btnCancel;

private:
    void Recheck();
    QLineEdit *Field(core::NetField field) const;

    core::NetSettings m_settings;
    core::NetCheck m_check;
};

} // namespace ui
