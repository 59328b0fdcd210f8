// Repeat job: re-triggers the device when its counter register stops moving.
#include "MainUnit.h"
#include "StringGrid.h"

#include <QCheckBox>
#include <QLabel>

namespace {
using core::CounterIndex;
using core::TriggerIndex;
constexpr int StallTicks = 2; // a count above this triggers on the next tick

void SetLabel(QLabel *label, const QString &text) {
    label->setText(text);
    label->adjustSize();
}
} // namespace

void TMainForm::cbRepeatJobClick(QObject *) {
    if (cbRepeatJob->isChecked()) {
        timlastsameNumber = -1;
        timsameNumber = 1;
        timCount = 0;
        SetLabel(labrj, QStringLiteral("Start"));
    }
    if (!cbRepeatJob->isChecked())
        SetLabel(labrj, QStringLiteral("Stop"));
}

void TMainForm::Timer1Timer(QObject *) {
    if (!cbRepeatJob->isChecked()) {
        SetLabel(labrj, QStringLiteral("---"));
        return;
    }
    timlastsameNumber = timsameNumber;
    timsameNumber = ReadRegister(CounterIndex);
    // Tests the count left by earlier ticks, before this reading is compared.
    if (timCount > StallTicks) {
        WriteRegister(TriggerIndex, 1);
        timCount = 0;
    }
    if (timsameNumber == timlastsameNumber)
        ++timCount;
    if (timsameNumber != timlastsameNumber)
        timCount = 0;
    RefreshSG();
    SetLabel(labrj, QStringLiteral("Reg[1]=") + QString::number(Regs[CounterIndex]) +
                        QStringLiteral(" Cnt=") + QString::number(timCount));
}
