// Connect and Disconnect.
#include "BusyCursor.h"
#include "Edits.h"
#include "MainUnit.h"
#include "Memo.h"
#include "MessageBox.h"
#include "TcpClient.h"

#include <QCoreApplication>
#include <QThread>
#include <exception>

namespace {

constexpr int DisconnectPauseSteps = 100; // each: sleep 1 ms, then pending events

// Box first; the log line once the operator has closed it.
void Report(ui::TMemo *log, const QString &text) {
    ui::ShowMessage(text);
    log->AddLine(text);
}

} // namespace

// Inside the Disconnect pause there is no client: the device counts as not
// connected then.
bool TMainForm::ClientConnected() {
    return idTCPClient && idTCPClient->IsConnected();
}

void TMainForm::btnConnectClick(QObject *) {
    if (ClientConnected()) {
        Report(Memo1, QStringLiteral("Tavrin jest po\u0142\u0105czony."));
        return;
    }
    bool connected = false;
    if (idTCPClient) {
        idTCPClient->Host = edIP->text().toUtf8().toStdString();
        // A port outside 1..65535 (typed, stepped or from the settings file)
        // fails as port 0 does, never as the port of its low 16 bits.
        const int32_t port = sePort->Value();
        idTCPClient->Port = port >= 1 && port <= 65535 ? static_cast<uint16_t>(port) : 0;
        idTCPClient->ReadTimeout = -1;
        idTCPClient->ConnectTimeout = -1;
        try {
            const ui::BusyCursor busy;
            idTCPClient->Connect();
            connected = true;
        } catch (const std::exception &) {
            // The reason stays unshown; the box and the log line say it all.
        }
    }
    if (!connected) {
        Report(Memo1, QStringLiteral("Brak po\u0142\u0105czenia z Tavrin."));
        return;
    }
    Memo1->AddLine(QStringLiteral("Successful connect with Tavrin"));
}

void TMainForm::btnDisconnectClick(QObject *) {
    // Released first, so that nothing running inside the pause can reach it.
    tcp::TcpClient *released = idTCPClient;
    idTCPClient = nullptr;
    delete released;

    for (int i = 0; i < DisconnectPauseSteps; ++i) {
        QThread::msleep(1);
        QCoreApplication::processEvents();
    }

    // A Disconnect that ran inside the pause has already put a fresh client
    // in place (and a Connect may have used it since); keep that one.
    if (!idTCPClient)
        idTCPClient = new tcp::TcpClient;
    Memo1->AddLine(QStringLiteral("Disconnect with Tavrin"));
}
