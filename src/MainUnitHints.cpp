// Tooltips and accessible names: the window explains its registers and
// commands in English without changing any caption or register name.
#include "Edits.h"
#include "MainUnit.h"
#include "Memo.h"
#include "NetSettings.h"
#include "RegisterMap.h"
#include "StringGrid.h"

#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>

namespace {

void Explain(QWidget *control, const QString &name, const QString &tip = QString()) {
    control->setAccessibleName(name);
    if (!tip.isEmpty()) {
        control->setToolTip(tip);
        control->setAccessibleDescription(tip);
    }
}

// A field is named by its caption label (the label whose buddy it is).
QString CaptionOf(const QWidget *field) {
    const auto labels = field->parentWidget()->findChildren<QLabel *>(Qt::FindDirectChildrenOnly);
    for (const QLabel *label : labels)
        if (label->buddy() == field)
            return label->text();
    return QString();
}

} // namespace

void TMainForm::ExplainControls() {
    for (int row = 1; row <= DeviceRegs; ++row)
        sg->SetCellHint(1, row, core::RegisterMeaning(row));

    const auto button = [](QPushButton *b, const QString &tip) { Explain(b, b->text(), tip); };
    button(btnConnect, QStringLiteral("Opens the Modbus TCP connection to the address in IP: "
                                      "and the port in Port:"));
    button(btnDisconnect, QStringLiteral("Closes the connection"));
    button(btnSendRR, QStringLiteral("Function 3 (read holding registers): reads Num. of point: "
                                     "registers from Start Adr: into the grid"));
    button(btnWriteRangeRegs,
           QStringLiteral("Function 16 (write multiple registers): writes Num. of point: "
                          "registers from Start Adr: with the values in the grid"));
    button(btnReadAllRegs, QStringLiteral("Function 3 (read holding registers): reads 255 "
                                          "registers, 40001 to 40255, into the grid"));
    button(btnRestartSend, QStringLiteral("Function 6 (write single register): writes 85 to "
                                          "40039 (Restart)"));
    button(BitBtn1, QStringLiteral("Function 16 (write multiple registers): writes the text to "
                                   "40056 (String[1]) onwards, one character per register, "
                                   "and 0 after the last"));
    button(btnRead, QStringLiteral("Function 3 (read holding registers): reads 40002 (Licznik) "
                                   "into the label below Repeat job"));
    button(btnWrite, QStringLiteral("Function 6 (write single register): writes the Node ID "
                                    "(Slave) value to 40002 (Licznik)"));
    pmSendRegister->setToolTip(QStringLiteral("Function 6 (write single register): writes the "
                                              "value of the row last selected to its register"));
    pmSendOneReg->setToolTipsVisible(true);

    Explain(cbRepeatJob, cbRepeatJob->text(),
            QStringLiteral("Every 3 seconds reads the counter 40002 (Licznik); after three "
                           "unchanged readings writes 1 to 40001 (Triger Start/Stop)"));
    Explain(labrj, QStringLiteral("Repeat job state"),
            QStringLiteral("Repeat job: the counter 40002 as last read (Reg[1]) and how many "
                           "readings in a row found it unchanged (Cnt)"));
    Explain(lTID, QStringLiteral("Transaction ID, hexadecimal"),
            QStringLiteral("Transaction ID in hexadecimal, as the next request's header carries "
                           "it; it goes up by one after every exchange"));
    Explain(lPID, QStringLiteral("Protocol ID, hexadecimal"),
            QStringLiteral("Protocol ID in hexadecimal, as the request header carries it"));
    Explain(lNode, QStringLiteral("Node ID, hexadecimal"),
            QStringLiteral("Node ID (the device's unit address) in hexadecimal, as the request "
                           "header carries it"));

    for (QWidget *field : std::initializer_list<QWidget *>{edIP, sePort, edRRStart, edRRNums,
                                                           seTransactionID, seProtocolID, seNodeID})
        Explain(field, CaptionOf(field));
    Explain(edText, gbText->title());
    Explain(sg, GroupBox1->title());
    Explain(Memo1, QStringLiteral("Traffic log"));
    for (QGroupBox *group : {GroupBox1, gbClient, gbReadRegs, gbText, gbModbus, gbFunc})
        Explain(group, group->title());
}

// Each of the thirteen rows shows the whole setting its word belongs to, as
// the image holds it now: the name cell after the register's meaning, the
// value cell after its state.
void TMainForm::ExplainNetSettings() {
    const core::NetSettings settings = core::NetSettings::FromImage(Regs);
    const core::NetCheck check = core::CheckNetSettings(settings);
    QString setting = core::NetDescription(settings);
    if (!check.Ok())
        setting += QStringLiteral("\nNot a valid setting: ") + check.Problems();
    if (!check.warning.isEmpty())
        setting += QStringLiteral("\nWarning: ") + check.warning;
    for (int index = core::NetFirstIndex; index < core::NetFirstIndex + core::NetWordCount;
         ++index) {
        const int row = index + 1;
        sg->SetCellHint(1, row, core::RegisterMeaning(row) + u'\n' + setting);
        const QString state = ValueStateHint(RegStates[index]);
        sg->SetCellHint(2, row, state.isEmpty() ? setting : state + u'\n' + setting);
    }
}
