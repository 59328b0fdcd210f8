// The module's network settings (40025..40037): the dialog opened from the
// grid's pop-up menu, and the write of the thirteen registers with the
// read-back that tells whether the module holds them.
#include "BusyCursor.h"
#include "Config.h"
#include "Dispatch.h"
#include "Edits.h"
#include "Follow.h"
#include "MainUnit.h"
#include "Memo.h"
#include "MessageBox.h"
#include "Modbus.h"
#include "NetSettings.h"
#include "NetworkDialog.h"
#include "Platform.h"
#include "TcpClient.h"

#include <QAction>
#include <QMenu>
#include <QPushButton>
#include <exception>

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
    if (WriteNetSettings(dialog.Settings()))
        FollowModule(dialog.Settings());
}

bool TMainForm::ConnectQuietly(const QString &host, int32_t port, int timeoutMs) {
    if (!idTCPClient || port < 1 || port > 65535)
        return false;
    idTCPClient->Host = host.toUtf8().toStdString();
    idTCPClient->Port = uint16_t(port);
    idTCPClient->ReadTimeout = -1;
    idTCPClient->ConnectTimeout = timeoutMs;
    try {
        idTCPClient->Connect();
    } catch (const std::exception &) {
        return false;
    }
    return true;
}

bool TMainForm::FollowModule(const core::NetSettings &settings) {
    const QString newHost = core::QuadText(settings.ip);
    const int32_t newPort = settings.port;
    const QString newAddress = QStringLiteral("%1:%2").arg(newHost).arg(newPort);
    if (!ui::AskYesNo(QStringLiteral("The module holds its new network settings. Restart it "
                                     "now? It will then answer at %1.")
                          .arg(newAddress)))
        return false;
    const QString oldHost = edIP->text();
    const int32_t oldPort = sePort->Value();
    const QString oldAddress = QStringLiteral("%1:%2").arg(oldHost).arg(oldPort);
    bool old = false;
    {
        const ui::BusyCursor busy;
        // A module that resets before its answer leaves the restart
        // unanswered: it is followed all the same. A refusal keeps it as it is.
        Regs[core::RestartIndex] = core::RestartValue; // as the restart button leaves it
        const engine::Reply restart = Engine().Restart();
        if (restart.exchange.Answered())
            RefreshSG();
        if (!restart.exchange.sent || restart.check.fault == core::AnswerFault::Exception)
            return false; // the log or the box has said why
        // Released: the module ends this connection as it restarts.
        delete idTCPClient;
        idTCPClient = new tcp::TcpClient;
        const auto attempt = [&](int ms) { return ConnectQuietly(newHost, newPort, ms); };
        if (engine::Retry(attempt, tcp::platform::DefaultConnectTimeoutMs)) {
            edIP->setText(newHost);
            sePort->SetValue(newPort);
            btnReadAllRegsClick(btnReadAllRegs);
            Memo1->AddLine(QStringLiteral("The module answers at %1.").arg(newAddress));
            return true;
        }
        // Not there in time: perhaps it never took the settings.
        old = ConnectQuietly(oldHost, oldPort, tcp::platform::DefaultConnectTimeoutMs);
    }
    QString text;
    if (old) {
        text = QStringLiteral("The module did not answer at %1 within 15 s. It still answers at "
                              "its old address %2, and the window is connected there.")
                   .arg(newAddress, oldAddress);
    } else {
        edIP->setText(newHost);
        sePort->SetValue(newPort);
        text = QStringLiteral("The module answers neither at its new address %1 nor at its old "
                              "address %2. \"IP:\" and \"Port:\" now hold the new one: press "
                              "Connect once the module is up again.")
                   .arg(newAddress, oldAddress);
    }
    Memo1->AddLine(text);
    ui::ShowMessage(text);
    return false;
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
