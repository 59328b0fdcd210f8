// The module's network settings (40025..40037): the dialog opened from the
// grid's pop-up menu, and the write of the thirteen registers with the
// read-back that tells whether the module holds them.
#include "Config.h"
#include "Dispatch.h"
#include "MainUnit.h"
#include "Memo.h"
#include "Modbus.h"
#include "NetSettings.h"
#include "NetworkDialog.h"

#include <QAction>
#include <QMenu>

void TMainForm::CreateNetwork() {
    pmSendOneReg->addSeparator();
    pmNetwork = pmSendOneReg->addAction(QStringLiteral("Network settings..."));
    pmNetwork->setObjectName(QStringLiteral("pmNetwork"));
    pmNetwork->setToolTip(QStringLiteral(
        "Shows the module's IP, mask, gateway and port as the grid holds them (40025 to "
        "40037) and writes new ones in one request (function 16), read back at once"));
    connect(pmNetwork, &QAction::triggered, this,
            ui::Guarded([this] { pmNetworkClick(pmNetwork); }));
}

void TMainForm::pmNetworkClick(QObject *) {
    ui::TNetworkDialog dialog(core::NetSettings::FromImage(Regs), this);
    if (dialog.exec() != QDialog::Accepted || !dialog.Check().Ok())
        return;
    WriteNetSettings(dialog.Settings());
}

bool TMainForm::WriteNetSettings(const core::NetSettings &settings) {
    // As if typed into the grid: pending until the module acknowledges them.
    const core::NetWords words = settings.Words();
    for (int i = 0; i < core::NetWordCount; ++i) {
        const int index = core::NetFirstIndex + i;
        core::MarkEdited(RegStates, index, Regs[index], words[size_t(i)]);
        Regs[index] = words[size_t(i)];
    }
    RefreshSG();
    PaintValueStates();
    Memo1->AddLine(QStringLiteral("Network settings: ") + core::NetDescription(settings) + u'.');
    const engine::Reply reply = Engine().WriteRange(
        core::NetFirstIndex, {Regs + core::NetFirstIndex, size_t(core::NetWordCount)});
    if (reply.exchange.Answered())
        RefreshSG();
    // A module that took a wrong word would answer somewhere unexpected:
    // read them back whatever "Verify writes" says.
    return ConfigAfterWrite(reply, true, true);
}
