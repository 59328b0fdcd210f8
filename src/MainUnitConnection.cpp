// Connect and Disconnect.
#include "MainUnit.h"
#include "TcpClient.h"

bool TMainForm::ClientConnected() { return idTCPClient && idTCPClient->IsConnected(); }

void TMainForm::btnConnectClick(QObject *) {}
void TMainForm::btnDisconnectClick(QObject *) {}
