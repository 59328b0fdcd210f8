// Modbus requests: the exchange, the register commands and the text command.
#include "MainUnit.h"

bool TMainForm::SendByTCP() { return false; }
void TMainForm::Buf2Regs(int32_t, int32_t) {}
void TMainForm::ReadRangeRegisters(int32_t, int32_t) {}
uint16_t TMainForm::ReadRegister(int32_t number) { return Regs[number]; }
void TMainForm::WriteRegister(int32_t, int32_t) {}
void TMainForm::btnReadAllRegsClick(QObject *) {}
void TMainForm::btnSendRRClick(QObject *) {}
void TMainForm::btnWriteRangeRegsClick(QObject *) {}
void TMainForm::pmSendRegisterClick(QObject *) {}
void TMainForm::btnRestartSendClick(QObject *) {}
void TMainForm::btnReadClick(QObject *) {}
void TMainForm::btnWriteClick(QObject *) {}
void TMainForm::btnSendClick(QObject *) {}
void TMainForm::LogAnswer(const QString &) {}
